// The commands of the orva command-line host, one function each, named in the command
// table (main.cpp). Each answers its exit status.
#pragma once

#include "Cli.h"

namespace cli {

int runDevices(Invocation&);
int runFormats(Invocation&);
int runControls(Invocation&);
int runPtz(Invocation&);
int runInfo(Invocation&);
int runCapture(Invocation&);
int runAudioFormats(Invocation&);
int runMeter(Invocation&);
int runVolume(Invocation&);
int runMute(Invocation&);
int runCaptureAudio(Invocation&);
int runCatalogue(Invocation&);
int runRecord(Invocation&);
int runRepair(Invocation&);
int runProbe(Invocation&);
int runOverlay(Invocation&);
int runDoctor(Invocation&);
int runShare(Invocation&);
int runPreview(Invocation&);
// The preview window's keys, as ? shows them in it and --help lists them.
const std::vector<std::string>& previewKeys();

} // namespace cli
