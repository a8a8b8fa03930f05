// The manual page orva(1) and the bash completion, both written from the command
// table, so that neither can fall behind the commands. The build runs
// `orva --print-man-page` and `orva --print-bash-completion` and installs the output.
#include "Cli.h"

#include <orva/OrvaVersion.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>

namespace cli {

namespace {

// Text for roff: backslashes doubled, hyphens as minus signs (so that options copy
// as typed), and a line that would start with a control character protected.
std::string roff(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\') out += "\\e";
        else if (c == '-') out += "\\-";
        else out += c;
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
    return out;
}

std::string optionSpelling(const Option& o)
{
    std::string s;
    if (o.shortName) s += std::string("\\fB\\-") + o.shortName + "\\fR, ";
    s += "\\fB" + roff(std::string("--") + o.name) + "\\fR";
    if (o.value) s += " \\fI" + roff(o.value) + "\\fR";
    return s;
}

} // namespace

void printManPage(FILE* to)
{
    std::fprintf(to, ".TH ORVA 1 \"\" \"orva %s\" \"User Commands\"\n", ORVA_VERSION_STRING);
    std::fprintf(to, ".SH NAME\norva \\- list, capture, control and record the maker's USB cameras and microphones\n");
    std::fprintf(to, ".SH SYNOPSIS\n.B orva\n[\\fB\\-\\-simulate\\fR] [\\fB\\-\\-all\\-vendors\\fR] [\\fB\\-\\-log\\fR] "
                     "\\fICOMMAND\\fR [\\fIOPTIONS\\fR] [\\fIOPERANDS\\fR]\n.br\n.B orva\n\\fICOMMAND\\fR "
                     "\\fB\\-\\-help\\fR\n.br\n.B orva \\-\\-version\n");
    std::fprintf(to, ".SH DESCRIPTION\n%s\n", roff(
        "orva is the command-line host of the Orva webcam component. Its commands use the system's cameras (V4L2) "
        "and microphones (PipeWire), the maker's only; where the system has none of a kind, they use the built-in "
        "virtual camera or microphone and say so. A camera that is attached but cannot be used is an error that "
        "names the node and the reason, never a reason to use the virtual one.").c_str());
    std::fprintf(to, ".PP\n%s\n", roff(
        "Results go to standard output (with --json one JSON document), messages and progress to standard error; "
        "progress shows on a terminal only.").c_str());
    std::fprintf(to, ".SH COMMANDS\n");
    for (const auto& c : commands()) {
        std::fprintf(to, ".SS \"orva %s%s%s\"\n%s\n", c.name, *c.operands ? " " : "", roff(c.operands).c_str(),
                     roff(c.summary).c_str());
        for (const auto& o : c.options) std::fprintf(to, ".TP\n%s\n%s\n", optionSpelling(o).c_str(), roff(o.help).c_str());
        if (c.json) std::fprintf(to, ".TP\n\\fB\\-\\-json\\fR\nprint the result as JSON (see JSON below)\n");
        if (c.keys) {
            std::fprintf(to, ".PP\nKeys in the window:\n.RS\n.EX\n");
            for (const auto& line : *c.keys) std::fprintf(to, "%s\n", roff(line).c_str());
            std::fprintf(to, ".EE\n.RE\n");
        }
        for (const char* e : c.examples) std::fprintf(to, ".PP\n.RS\n.EX\norva %s\n.EE\n.RE\n", roff(e).c_str());
    }
    std::fprintf(to, ".SH COMMON OPTIONS\n");
    std::set<std::string> shown;
    for (const auto& c : commands())
        for (const auto& o : optionsOf(c)) {
            const bool own = std::any_of(c.options.begin(), c.options.end(),
                                         [&](const Option& mine) { return std::string(mine.name) == o.name; });
            if (own || std::string(o.name) == "json" || !shown.insert(o.name).second) continue;
            std::fprintf(to, ".TP\n%s\n%s\n", optionSpelling(o).c_str(), roff(o.help).c_str());
        }
    std::fprintf(to, ".SH CHOOSING A DEVICE\n%s\n", roff(
        "CAMERA and MIC (an operand, or --camera and --mic) are, in this order of trying: the index orva devices "
        "prints, the path it prints (/dev/video0;usb=1-4;serial=SN0001), the node (/dev/video0, or a link to it "
        "such as /dev/v4l/by-id/...), a PipeWire node name, the serial number, or the name (in any case). A choice "
        "that matches nothing lists what there is.").c_str());
    std::fprintf(to, ".SH FRAME RATES\n%s\n", roff(
        "orva formats lists each format's rates as the camera declares them (30, 15, 29.97). capture and record "
        "take one with --fps N or in the format, avc1:1280x720@15; without either the camera runs at 30 frames a "
        "second.").c_str());
    std::fprintf(to, ".SH PIPES\n%s\n", roff(
        "capture --out - and capture-audio --out - (or /dev/stdout) write to standard output for another program: "
        "raw H.264, raw 2vuy (UYVY 4:2:2) frames, WAV with an unknown-length header, or ADTS AAC; the summary then "
        "goes to standard error. A movie needs a seekable file.").c_str());
    std::fprintf(to, ".SH JSON\n%s\n", roff(
        "The documents --json prints are described in docs/cli-json.md; keys are snake_case and are only ever "
        "added. devices --watch --json and meter --json print one document per line.").c_str());
    std::fprintf(to, ".SH EXIT STATUS\n.TP\n0\ndone\n.TP\n1\nfailed (the message says why)\n.TP\n2\n"
                     "the command line was wrong\n.TP\n130\ninterrupted by the user (a movie is still finished)\n");
    std::fprintf(to, ".SH ENVIRONMENT\n.TP\n.B ORVA_SIMULATE=1\nas \\-\\-simulate: the simulated devices only\n"
                     ".TP\n.B ORVA_ALL_VENDORS=1\nas \\-\\-all\\-vendors: every camera and audio source\n"
                     ".TP\n.B ORVA_LOG=1\nas \\-\\-log: the component's own lines on standard error\n");
    std::fprintf(to, ".SH FILES\n.TP\n.I .NAME.recording\n%s\n", roff(
        "the working file of a recording (or capture) into NAME, beside it; a recording that was killed leaves it, "
        "and orva repair makes the movie of it.").c_str());
    std::fprintf(to, ".SH SEE ALSO\n.BR v4l2\\-ctl (1),\n.BR pw\\-record (1),\n.BR ffprobe (1)\n");
}

void printBashCompletion(FILE* to)
{
    std::string names;
    for (const auto& c : commands()) names += std::string(names.empty() ? "" : " ") + c.name;
    std::fprintf(to, "# bash completion for orva, written from its command table.\n");
    std::fprintf(to, "_orva()\n{\n    local cur prev command i\n    cur=${COMP_WORDS[COMP_CWORD]}\n"
                     "    prev=${COMP_WORDS[COMP_CWORD-1]}\n    command=\n"
                     "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
                     "        case ${COMP_WORDS[i]} in -*) ;; *) command=${COMP_WORDS[i]}; break ;; esac\n"
                     "    done\n");
    std::fprintf(to, "    if [[ -z $command ]]; then\n"
                     "        COMPREPLY=($(compgen -W \"%s help --simulate --all-vendors --log --help --version\" -- \"$cur\"))\n"
                     "        return\n    fi\n", names.c_str());
    // Options that take a value: files for paths, nothing to offer for the rest.
    std::set<std::string> fileOptions, valueOptions;
    for (const auto& c : commands())
        for (const auto& o : optionsOf(c))
            if (o.value) (std::string(o.value) == "FILE" ? fileOptions : valueOptions).insert(std::string("--") + o.name);
    auto join = [](const std::set<std::string>& words) {
        std::string text;
        for (const auto& w : words) text += (text.empty() ? "" : "|") + w;
        return text;
    };
    std::fprintf(to, "    case $prev in\n        %s|-o) compopt -o filenames; COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n"
                     "        %s) return ;;\n    esac\n", join(fileOptions).c_str(), join(valueOptions).c_str());
    std::fprintf(to, "    local options files=1\n    case $command in\n");
    for (const auto& c : commands()) {
        std::string options;
        for (const auto& o : optionsOf(c)) {
            options += std::string(options.empty() ? "" : " ") + "--" + o.name;
            if (o.shortName) options += std::string(" -") + o.shortName;
        }
        std::fprintf(to, "        %s) options=\"%s\"", c.name, options.c_str());
        // Commands whose operands are words of their own.
        const std::string name = c.name;
        if (name == "ptz") std::fprintf(to, "; files=; COMPREPLY=($(compgen -W \"left right up down reset\" -- \"$cur\"))");
        if (name == "mute") std::fprintf(to, "; files=; COMPREPLY=($(compgen -W \"on off\" -- \"$cur\"))");
        if (name == "controls") std::fprintf(to, "; files=; COMPREPLY=($(compgen -W \"set\" -- \"$cur\"))");
        std::fprintf(to, " ;;\n");
    }
    std::fprintf(to, "        help) COMPREPLY=($(compgen -W \"%s\" -- \"$cur\")); return ;;\n    esac\n", names.c_str());
    std::fprintf(to, "    if [[ $cur == -* ]]; then\n        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
                     "    elif [[ -n $files ]]; then\n        compopt -o filenames; COMPREPLY=($(compgen -f -- \"$cur\"))\n"
                     "    fi\n}\ncomplete -F _orva orva\n");
}

} // namespace cli
