#include <orva/SMResolutionInfo.h>
#include "catalogue/CatalogueFile.h"
#include "platform/foundation/SystemLog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace orva;

namespace {

std::string resolution(int w, int h, const std::string& rate, const std::string& extra = "")
{
    return "<Resolution><SelectedWidth>" + std::to_string(w) + "</SelectedWidth><SelectedHeight>" + std::to_string(h) +
           "</SelectedHeight>" + rate + extra + "</Resolution>";
}

class ResolutionInfo : public ::testing::Test {
protected:
    void SetUp() override
    {
        SystemLog::setEchoToStandardError(false);
        path = (std::filesystem::temp_directory_path() / ("orva-catalogue-" + std::to_string(::getpid()) + ".xml")).string();
    }
    void TearDown() override { std::filesystem::remove(path); }
    void write(const std::string& xml) { std::ofstream(path) << xml; }
    // Two cameras: 01A2 (418) with codecs A and B at 640x480 and an interpolated
    // 1280x720; 0B0C (2828) with one plain-rate 320x240 and a 640x480 for any codec.
    void writeTwoCameras()
    {
        write("<Resolutions>"
              "<Camera PID=\"01A2\">" +
              resolution(640, 480, "<FrameRate FMT=\"A\">30</FrameRate>") +
              resolution(640, 480, "<FrameRate FMT=\"B\">15</FrameRate>") +
              resolution(1280, 720, "<FrameRate FMT=\"A\">30</FrameRate>", "<Interpolated>YES</Interpolated>") +
              "</Camera><Camera PID=\"0B0C\">" + resolution(320, 240, "<FrameRate>30</FrameRate>") +
              resolution(640, 480, "<FrameRate>30</FrameRate>") + "</Camera></Resolutions>");
    }
    std::string path;
};

TEST_F(ResolutionInfo, ProductsAreFoundByHexadecimalPid)
{
    writeTwoCameras();
    uint32_t count = 99;
    SMResolutionInfo first(path, 418);
    EXPECT_EQ(first.getResolutionCount(&count), 0);
    EXPECT_EQ(count, 3u);
    SMResolutionInfo second(path, 2828);
    EXPECT_EQ(second.getResolutionCount(&count), 0);
    EXPECT_EQ(count, 2u);
    SMResolutionInfo none(path, 0);
    count = 99;
    EXPECT_EQ(none.getResolutionCount(&count), -1);
    EXPECT_EQ(count, 99u) << "nothing stored without a list";
    EXPECT_TRUE(none.getResolutionArrayAtIndex(0).isNull());
    EXPECT_FALSE(none.isCodecSupported("A"));
    EXPECT_EQ(first.getResolutionArrayAtIndex(2).get("SelectedWidth").number()->integerValue(), 1280);
}

TEST_F(ResolutionInfo, SizeLookupsHonourCodecAndInterpolation)
{
    writeTwoCameras();
    SMResolutionInfo info(path, 418);
    EXPECT_TRUE(info.isResolutionPresent("A", 640, 480, false));
    EXPECT_TRUE(info.isResolutionPresent("B", 640, 480, false));
    EXPECT_FALSE(info.isResolutionPresent("C", 640, 480, false));
    EXPECT_FALSE(info.isResolutionPresent("a", 640, 480, false)) << "codec names are case-sensitive";
    EXPECT_FALSE(info.isResolutionPresent("A", 640, 480, true));
    EXPECT_TRUE(info.isResolutionPresent("A", 1280, 720, true));
    EXPECT_FALSE(info.isResolutionPresent("A", 1280, 720, false));
    EXPECT_TRUE(info.isCodecSupported("B"));
    EXPECT_FALSE(info.isCodecSupported("C"));

    SMResolutionInfo plain(path, 2828); // plain-number frame rates hold for every codec
    EXPECT_TRUE(plain.isResolutionPresent("C", 640, 480, false));
    EXPECT_FALSE(plain.isCodecSupported("C")) << "no FMT anywhere: no codec is named";
}

TEST_F(ResolutionInfo, FindResolutionSwitchesProductAndRereadsTheFile)
{
    writeTwoCameras();
    SMResolutionInfo info(path, 418);
    EXPECT_TRUE(info.findResolution(418, 1280, 720, false).isNull()) << "only the interpolated one is that size";
    const Value found = info.findResolution(2828, 320, 240, false);
    ASSERT_TRUE(found.isTable());
    EXPECT_EQ(found.get("SelectedHeight").number()->integerValue(), 240);
    EXPECT_EQ(info.productID(), 2828u);
    uint32_t count = 0;
    ASSERT_EQ(info.getResolutionCount(&count), 0);
    EXPECT_EQ(count, 2u);
    EXPECT_TRUE(info.findResolution(2828, 320, 240, true).isNull());

    info.setProductID(418); // setting alone reads nothing
    EXPECT_EQ(info.productID(), 418u);
    ASSERT_EQ(info.getResolutionCount(&count), 0);
    EXPECT_EQ(count, 2u);

    // parsePlist for a product that is not listed keeps the list it has.
    EXPECT_TRUE(info.parsePlist(7).isNull());
    ASSERT_EQ(info.getResolutionCount(&count), 0);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(info.productID(), 7u);
}

TEST_F(ResolutionInfo, ACatalogueIsParsedOnceHoweverManyCamerasAsk)
{
    // 2,000 cameras, each asked about on its own, as a host with many products does.
    std::string xml = "<Resolutions>";
    for (int pid = 1; pid <= 2000; ++pid) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%04X", pid);
        xml += std::string("<Camera PID=\"") + hex + "\">" + resolution(640, 480, "<FrameRate>30</FrameRate>") + "</Camera>";
    }
    write(xml + "</Resolutions>");
    const size_t before = CatalogueFile::parseCount();
    for (uint32_t pid = 1; pid <= 2000; pid += 37) {
        SMResolutionInfo info(path, pid);
        EXPECT_TRUE(info.findResolution(pid, 640, 480, false).isTable()) << pid;
    }
    EXPECT_EQ(CatalogueFile::parseCount(), before + 1);

    // A changed file is seen at once.
    write("<Resolutions><Camera PID=\"0B0D\">" + resolution(352, 288, "<FrameRate>30</FrameRate>") +
          "</Camera></Resolutions>");
    EXPECT_TRUE(SMResolutionInfo(path, 2829).findResolution(2829, 352, 288, false).isTable());
    EXPECT_EQ(CatalogueFile::parseCount(), before + 2);
}

TEST_F(ResolutionInfo, UnreadableOrSingularCatalogues)
{
    uint32_t count = 0;
    EXPECT_EQ(SMResolutionInfo(path, 418).getResolutionCount(&count), -1) << "missing file";
    write("");
    EXPECT_EQ(SMResolutionInfo(path, 418).getResolutionCount(&count), -1) << "empty file";
    write("<Resolutions><Camera PID=\"01A2\">");
    EXPECT_EQ(SMResolutionInfo(path, 418).getResolutionCount(&count), -1) << "malformed";
    write("<Other/>");
    EXPECT_EQ(SMResolutionInfo(path, 418).getResolutionCount(&count), -1) << "no Resolutions";
    writeTwoCameras();
    EXPECT_EQ(SMResolutionInfo("file://" + path, 418).getResolutionCount(&count), -1) << "a URL is no file path";

    // One Camera with one Resolution: read as lists of one.
    write("<Resolutions><Camera PID=\"01A2\">" + resolution(640, 480, "<FrameRate FMT=\"A\">30</FrameRate>") +
          "</Camera></Resolutions>");
    SMResolutionInfo single(path, 418);
    ASSERT_EQ(single.getResolutionCount(&count), 0);
    EXPECT_EQ(count, 1u);
    EXPECT_TRUE(single.isResolutionPresent("A", 640, 480, false));
}

} // namespace
