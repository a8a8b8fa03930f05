#include <orva/SMXMLReader.h>
#include "catalogue/XMLReaderNavigation.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/SystemLog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace orva;

namespace {

class XMLReader : public ::testing::Test {
protected:
    void SetUp() override
    {
        SystemLog::setEchoToStandardError(false);
        mHook = SystemLog::addHook([this](const std::string& line) { lines.push_back(line); });
    }
    void TearDown() override { SystemLog::removeHook(mHook); }
    static Value read(const std::string& xml) { return SMXMLReader::dictionaryForXMLString(xml, nullptr); }
    std::vector<std::string> lines;

private:
    uint64_t mHook = 0;
};

std::string textOf(const Value& v)
{
    return v.text() ? *v.text() : "<not text>";
}

TEST_F(XMLReader, RepeatedNamesBecomeListsWithOnlyTheFirstConverted)
{
    const Value plain = read("<a><b>1</b><b>2</b></a>");
    const Value b = plain.get("a").get("b");
    ASSERT_TRUE(b.isList());
    EXPECT_EQ(textOf(b.at(0)), "1");
    EXPECT_EQ(textOf(b.at(1)), "2");
    EXPECT_EQ(plain.count(), 1u) << "the root holds only the document element";

    const Value widths = read("<r><SelectedWidth>640</SelectedWidth><SelectedWidth>320</SelectedWidth></r>").get("r").get("SelectedWidth");
    ASSERT_TRUE(widths.isList());
    ASSERT_TRUE(widths.at(0).isNumber());
    EXPECT_EQ(widths.at(0).number()->integerValue(), 640);
    EXPECT_EQ(widths.at(0).number()->kind(), Number::Kind::Int64);
    EXPECT_EQ(textOf(widths.at(1)), "320");
}

TEST_F(XMLReader, AttributesFrameRateAndProductIds)
{
    const Value rate = read(R"(<r><FrameRate FMT="X">30</FrameRate></r>)").get("r").get("FrameRate");
    ASSERT_TRUE(rate.isTable());
    EXPECT_EQ(textOf(rate.get("FMT")), "X");
    const Value number = rate.get("FrameRate");
    ASSERT_TRUE(number.isNumber());
    EXPECT_EQ(number.number()->intValue(), 30);
    EXPECT_EQ(number.number()->kind(), Number::Kind::Int32);
    const Value plainRate = read("<r><FrameRate>25</FrameRate></r>").get("r").get("FrameRate");
    EXPECT_EQ(plainRate.number()->kind(), Number::Kind::Int64);

    for (auto [text, expected] : {std::pair{"01A2", 418}, {"0x01a2", 418}, {" 0X1a2z", 418}, {"zz", 0}, {"", 0}}) {
        const Value pid = read(std::string("<C PID=\"") + text + "\"/>").get("C").get("PID");
        ASSERT_TRUE(pid.isNumber()) << text;
        EXPECT_EQ(pid.number()->intValue(), expected) << text;
        EXPECT_EQ(pid.number()->kind(), Number::Kind::Int32);
    }
    // Other attributes and elements with text besides attributes keep their text.
    const Value c = read(R"(<C Name="cam">  hello  </C>)").get("C");
    EXPECT_EQ(textOf(c.get("Name")), "cam");
    EXPECT_EQ(textOf(c.get("text")), "hello");
}

TEST_F(XMLReader, TextIsTrimmedPerChunk)
{
    EXPECT_EQ(textOf(read("<a>\n   spaced out \n</a>").get("a")), "spaced out");
    EXPECT_EQ(textOf(read("<a>a &amp; b</a>").get("a")), "a&b") << "the reference is a chunk of its own";
    EXPECT_EQ(textOf(read("<a>x&#65;y</a>").get("a")), "xAy");
    EXPECT_EQ(textOf(read("<a>one\ntwo</a>").get("a")), "one\ntwo") << "a run across lines is one chunk";
    EXPECT_EQ(textOf(read("<a><![CDATA[ <raw> ]]></a>").get("a")), "<raw>");
}

TEST_F(XMLReader, BooleanSpellings)
{
    for (const char* yes : {"YES", "Y", "true", "t", "1", "007", " +9"})
        EXPECT_TRUE(read(std::string("<r><Interpolated>") + yes + "</Interpolated></r>").get("r").get("Interpolated").number()->boolValue())
            << yes;
    for (const char* no : {"NO", "false", "0", "00", "x"}) {
        const Value v = read(std::string("<r><StillOnly>") + no + "</StillOnly></r>").get("r").get("StillOnly");
        ASSERT_TRUE(v.isNumber()) << no;
        EXPECT_EQ(v.number()->kind(), Number::Kind::Bool);
        EXPECT_FALSE(v.number()->boolValue()) << no;
    }
    EXPECT_EQ(read("<r><Bitrate>lots</Bitrate></r>").get("r").get("Bitrate").number()->integerValue(), 0);
    EXPECT_EQ(read("<r><Bitrate>99999999999999999999</Bitrate></r>").get("r").get("Bitrate").number()->integerValue(),
              INT64_MAX)
        << "saturates";
}

TEST_F(XMLReader, EmptyElementsAndTextBeforeAChild)
{
    const Value a = read(R"(<a><gone/><kept k="v"/></a>)").get("a");
    EXPECT_TRUE(a.get("gone").isNull());
    EXPECT_EQ(textOf(a.get("kept").get("k")), "v");
    EXPECT_EQ(textOf(read("<a>x<b/></a>").get("a").get("b")), "x") << "the next element to end takes the text";

    // An empty element after siblings of its name removes only its own item.
    const Value list = read("<a><b>1</b><b>2</b><b/></a>").get("a").get("b");
    ASSERT_TRUE(list.isList());
    EXPECT_EQ(list.count(), 2u);
}

TEST_F(XMLReader, NavigationAlongDottedPaths)
{
    const Value root = read("<a><b>1</b><b>2</b><c><d>deep</d></c></a>");
    EXPECT_EQ(textOf(retrieveForPath(root, "a.b.last")), "2");
    EXPECT_EQ(textOf(retrieveForPath(root, "a.b.1")), "2");
    EXPECT_TRUE(retrieveForPath(root, "a.b.2").isNull());
    EXPECT_TRUE(retrieveForPath(root, "a.b.-1").isNull());
    EXPECT_EQ(textOf(retrieveForPath(root, "a.b.x")), "1") << "no digits reads 0";
    EXPECT_EQ(textOf(retrieveForPath(root, "a.c.d")), "deep");
    EXPECT_TRUE(retrieveForPath(root, "a.c.d.more").isNull()) << "past a leaf";
    EXPECT_TRUE(retrieveForPath(root, "nothing.at.all").isNull());
    EXPECT_TRUE(retrieveForPath(read("<a><b></b></a>"), "a.b.last").isNull());
}

TEST_F(XMLReader, BadDocumentsGiveNullAndAnError)
{
    std::optional<XMLParseError> error;
    EXPECT_TRUE(SMXMLReader::dictionaryForXMLString("<a><b></a>", &error).isNull());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->line, 1u);
    EXPECT_FALSE(error->message.empty());

    error.reset();
    EXPECT_TRUE(SMXMLReader::dictionaryForXMLData("", &error).isNull());
    EXPECT_FALSE(error) << "no bytes: null without an error";
    EXPECT_TRUE(SMXMLReader::dictionaryForPath("no-such-resource", &error).isNull());
    EXPECT_FALSE(error);
    EXPECT_TRUE(SMXMLReader::dictionaryForXMLString("<a>", nullptr).isNull()) << "no error place: still null";

    // Thousands of levels end the parse instead of the stack.
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "<n>";
    EXPECT_TRUE(SMXMLReader::dictionaryForXMLString(deep, &error).isNull());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, XMLParser::kErrorTooDeep);

    // A huge attribute value is read whole.
    const std::string big(2'000'000, 'v');
    EXPECT_EQ(read("<a k=\"" + big + "\"/>").get("a").get("k").text()->size(), big.size());
}

TEST_F(XMLReader, LogsOneLinePerDocumentAndResourcesComeFromTheComponentFolder)
{
    const auto folder = std::filesystem::temp_directory_path() / ("orva-xml-resources-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "Sample.xml") << "<s><v>hi</v><v>there</v></s>";
    Bundle::setComponentBundleResourcePath(folder.string());
    const Value v = SMXMLReader::dictionaryForPath("Sample", nullptr);
    Bundle::setComponentBundleResourcePath(std::nullopt);
    std::filesystem::remove_all(folder);
    EXPECT_EQ(textOf(v.get("s").get("v").at(1)), "there");
    EXPECT_EQ(lines, std::vector<std::string>{"Read an XML document of 28 bytes: 3 elements"});
}

TEST_F(XMLReader, HostileDocumentsEndQuicklyWithAnError)
{
    // Nested entities that would expand to gigabytes ("billion laughs").
    std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE l [<!ENTITY l0 \"ha\">";
    for (int i = 1; i <= 10; ++i) {
        laughs += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) laughs += "&l" + std::to_string(i - 1) + ";";
        laughs += "\">";
    }
    laughs += "]><l>&l10;</l>";
    std::optional<XMLParseError> error;
    EXPECT_TRUE(SMXMLReader::dictionaryForXMLString(laughs, &error).isNull());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, 43) << error->description(); // expat's amplification limit

    // Character references by the million are text like any other, logged once.
    std::string references = "<a>";
    for (int i = 0; i < 200000; ++i) references += "&#65;";
    references += "</a>";
    lines.clear();
    EXPECT_EQ(textOf(read(references).get("a")).size(), 200000u);
    EXPECT_EQ(lines.size(), 1u);

    // Past the size limit nothing is parsed.
    error.reset();
    const std::string huge = "<a>" + std::string(XMLParser::kMaximumDocumentBytes, ' ') + "</a>";
    EXPECT_TRUE(SMXMLReader::dictionaryForXMLString(huge, &error).isNull());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, XMLParser::kErrorTooLarge);
    EXPECT_NE(error->description().find("larger than 16 MB"), std::string::npos);
}

} // namespace
