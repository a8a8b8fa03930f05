#include "Wait.h"
#include "catalogue/CatalogueFile.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileManager.h"
#include <orva/NotificationCenter.h>
#include <orva/Number.h>
#include <orva/OrvaStatus.h>
#include "platform/foundation/PropertyList.h"
#include <orva/RunLoop.h>
#include "platform/foundation/UUID.h"
#include "platform/graphics/ImageReader.h"
#include "platform/writer/MovieProbe.h"
#include <orva/Value.h>

#include <orva/OrvaLog.h>
#include "platform/foundation/SystemLog.h"
#include <orva/OrvaMovieCreator.h>
#include <mutex>
#include <gtest/gtest.h>

#include <algorithm>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace orva;

// The one place the numbers are written: hosts compiled against them keep them.
TEST(StatusNames, KeepTheirNumbersAndSayWhatTheyMean)
{
    const struct {
        int32_t status, number;
        const char* said;
    } statuses[] = {
        {kOrvaOK, 0, "ok"},
        {kOrvaErrorNoMovieCreator, 1, "no movie creator"},
        {kOrvaErrorNoFormat, 2, "no format chosen, or the format was refused"},
        {kOrvaErrorNotOpen, 3, "the device is not open"},
        {kOrvaErrorMicrophoneBusy, 5, "the microphone is in use by another program"},
        {kOrvaErrorCameraBusy, 6, "the camera is in use by another program"},
        {kOrvaErrorLibraryFailed, 7, "the capture library failed"},
        {kOrvaErrorMovieOpenFailed, 8, "the movie could not be opened"},
        {kOrvaErrorNoPipeWire, 9, "PipeWire is not running or refused the camera"},
        {kOrvaErrorUnsupportedMediaType, -197, "unsupported media type"},
        {kOrvaErrorCannotCreateFile, -198, "the movie file cannot be created"},
        {kOrvaErrorDiskFull, -199, "disk full"},
        {kOrvaErrorWriterFailed, -200, "the movie writer failed"},
    };
    for (const auto& s : statuses) {
        EXPECT_EQ(s.status, s.number) << s.said;
        EXPECT_STREQ(OrvaStatusDescription(s.status), s.said);
    }
    EXPECT_STREQ(OrvaStatusDescription(4), "unknown status");
}

TEST(Number, KindsAndConversionRules)
{
    EXPECT_EQ(Number::numberWithInteger(40000).shortValue(), -25536);
    EXPECT_EQ(Number::numberWithInteger(70000).unsignedShortValue(), 0x1170);
    EXPECT_EQ(Number::numberWithInteger(-1).unsignedShortValue(), 0xFFFF);
    EXPECT_EQ(Number::numberWithInteger(0x100000001LL).intValue(), 1);
    EXPECT_EQ(Number::numberWithShort(-5).integerValue(), -5);
    EXPECT_EQ(Number::numberWithShort(-5).kind(), Number::Kind::Int16);
    EXPECT_EQ(Number::numberWithUnsignedInt(0xFFFFFFFFu).integerValue(), 0xFFFFFFFFLL);
    EXPECT_EQ(Number::numberWithDouble(-2.9).integerValue(), -2) << "truncates toward zero";
    EXPECT_EQ(Number::numberWithDouble(1e300).integerValue(), INT64_MAX);
    EXPECT_EQ(Number::numberWithDouble(std::nan("")).integerValue(), 0);
    EXPECT_TRUE(Number::numberWithUnsignedChar(2).boolValue());
    EXPECT_TRUE(Number::numberWithDouble(0.5).boolValue());
    EXPECT_FALSE(Number::numberWithInt(0).boolValue());
    EXPECT_EQ(Number::numberWithBool(true).kind(), Number::Kind::Bool);
    EXPECT_EQ(Number::numberWithBool(true).integerValue(), 1);
    EXPECT_EQ(Number::numberWithShort(5), Number::numberWithInt(5));
    EXPECT_FALSE(Number::numberWithInt(-1) == Number::numberWithUnsignedLongLong(UINT64_MAX));
    EXPECT_EQ(Number::numberWithUnsignedChar(200).description(), "200");
}

TEST(Value, TablesAndListsAreShared)
{
    Value root = Value::makeTable();
    Value list = Value::makeList();
    root.set("items", list);
    Value copy = root;
    list.append(Value("one"));
    copy.get("items").append(Number::numberWithInt(2));
    EXPECT_EQ(root.get("items").count(), 2u);
    EXPECT_EQ(*root.get("items").at(0).text(), "one");
    EXPECT_EQ(root.get("items").at(1).number()->intValue(), 2);
    EXPECT_TRUE(root.get("items").at(5).isNull());
    EXPECT_TRUE(root.get("missing").isNull());
    EXPECT_TRUE(Value("x").get("k").isNull());
    EXPECT_TRUE(copy.isSameAs(root));
    EXPECT_FALSE(Value::makeTable().isSameAs(Value::makeTable()));
}

TEST(Value, DescriptionOfADeepValueIsMadeInOnePass)
{
    Value root = Value::makeList();
    Value at = root;
    for (int depth = 0; depth < 2000; ++depth) {
        Value child = Value::makeList();
        at.append(child);
        at = child;
    }
    at.append(Value("leaf"));
    const std::string text = root.description();
    // Every level opens and closes once, indented two spaces a level.
    EXPECT_EQ(std::count(text.begin(), text.end(), '('), 2001);
    EXPECT_NE(text.find(std::string(2 * 2001, ' ') + "\"leaf\""), std::string::npos);
    EXPECT_EQ(Value::makeTable().description(), "{\n}");
}

TEST(NotificationCenter, PostsSynchronouslyToMatchingObserversUntilRemoved)
{
    auto& center = NotificationCenter::defaultCenter();
    std::vector<std::string> heard;
    const auto named = center.addObserver("ping", [&](const Notification& n) { heard.push_back("named:" + n.name); });
    const auto all = center.addObserver("", [&](const Notification& n) { heard.push_back("all:" + n.name); });
    center.postNotificationName("ping", nullptr, {{"k", std::any(1)}});
    center.postNotificationName("other", nullptr, {});
    center.removeObserver(named);
    center.postNotificationName("ping", nullptr, {});
    center.removeObserver(all);
    center.postNotificationName("ping", nullptr, {});
    EXPECT_EQ(heard, (std::vector<std::string>{"named:ping", "all:ping", "all:other", "all:ping"}));

    // An observer may remove itself while it runs.
    NotificationCenter::Token self = 0;
    int calls = 0;
    self = center.addObserver("once", [&](const Notification&) {
        ++calls;
        center.removeObserver(self);
    });
    center.postNotificationName("once", nullptr, {});
    center.postNotificationName("once", nullptr, {});
    EXPECT_EQ(calls, 1);
}

TEST(RunLoop, TimersAndMainQueueTasksRunWhileTheLoopTurns)
{
    auto& loop = RunLoop::current();
    int ticks = 0;
    auto timer = loop.scheduledTimer(0.01, true, [&](Timer& t) {
        if (++ticks == 3) t.invalidate();
    });
    std::atomic<bool> ranOnMain{false};
    std::thread([&] { RunLoop::dispatchToMain([&] { ranOnMain = true; }); }).join();
    EXPECT_FALSE(ranOnMain) << "main-queue tasks wait for the loop";
    const auto deadline = std::chrono::steady_clock::now() + orvatest::kPatience;
    while ((ticks < 3 || !ranOnMain) && std::chrono::steady_clock::now() < deadline) loop.runUntilDate(0.01);
    loop.runUntilDate(0.05); // an invalidated timer fires no more
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(timer->isValid());
    EXPECT_TRUE(ranOnMain);

    // A thread of its own has a loop of its own.
    int otherTicks = 0;
    std::thread([&] {
        auto& mine = RunLoop::current();
        EXPECT_NE(&mine, &RunLoop::main());
        auto t = mine.scheduledTimer(0.01, false, [&](Timer&) { ++otherTicks; });
        const auto until = std::chrono::steady_clock::now() + orvatest::kPatience;
        while (otherTicks == 0 && std::chrono::steady_clock::now() < until) mine.runUntilDate(0.01);
        mine.runUntilDate(0.05); // a one-shot timer fires once
    }).join();
    EXPECT_EQ(otherTicks, 1);
}

TEST(DispatchQueue, SerialQueueRunsInOrderAndOutlivesItsLastReference)
{
    auto queue = DispatchQueue::create("test.serial");
    std::vector<int> order;
    std::mutex m;
    for (int i = 0; i < 50; ++i)
        queue->async([&, i] {
            std::lock_guard lock(m);
            order.push_back(i);
        });
    bool inline_ = false;
    queue->sync([&] { queue->sync([&] { inline_ = queue->isCurrent(); }); });
    EXPECT_TRUE(inline_);
    {
        std::lock_guard lock(m);
        ASSERT_EQ(order.size(), 50u);
        for (int i = 0; i < 50; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
    }

    std::atomic<bool> ran{false};
    queue->async([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ran = true;
    });
    queue.reset();
    EXPECT_TRUE(orvatest::waitUntil([&] { return ran.load(); })) << "tasks submitted before the release still run";
}

TEST(PropertyList, ReadsXmlAndBinaryAndRejectsGarbage)
{
    Value table = Value::makeTable();
    table.set("name", Value("Cam"));
    table.set("count", Number::numberWithInt(3));
    table.set("on", Number::numberWithBool(true));
    const std::string xml = PropertyList::toXML(table);
    auto back = PropertyList::fromData(xml);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back->get("name").text(), "Cam");
    EXPECT_EQ(back->get("count").number()->intValue(), 3);
    EXPECT_EQ(back->get("on").number()->kind(), Number::Kind::Bool);

    // A binary list: {"1234": "Front"}.
    const unsigned char binary[] = {0x62, 0x70, 0x6c, 0x69, 0x73, 0x74, 0x30, 0x30, 0xd1, 0x01, 0x02, 0x54, 0x31, 0x32,
                                    0x33, 0x34, 0x55, 0x46, 0x72, 0x6f, 0x6e, 0x74, 0x08, 0x0b, 0x10, 0x00, 0x00, 0x00,
                                    0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00,
                                    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                    0x16};
    auto fromBinary = PropertyList::fromData(std::string(reinterpret_cast<const char*>(binary), sizeof binary));
    ASSERT_TRUE(fromBinary);
    EXPECT_EQ(*fromBinary->get("1234").text(), "Front");

    for (const char* bad : {"", "<plist><dict><key>a</key>", "bplist00\xff\xff", "not a plist"})
        EXPECT_FALSE(PropertyList::fromData(bad)) << bad;
    EXPECT_FALSE(PropertyList::readFile("/nonexistent/DeviceNames.plist"));

    // A string or key holding a NUL (found by fuzzing: libplist's own accessors abort
    // the process on one) is refused, in either form, instead of ending the host.
    const std::string xmlNul = std::string("<plist version=\"1.0\"><dict><key>2277</key><string>Orva") + '\0' +
                               "Mic</string></dict></plist>";
    EXPECT_FALSE(PropertyList::fromData(xmlNul));
    EXPECT_FALSE(PropertyList::fromData("<plist version=\"1.0\"><dict><key>a&#x00;b</key><string>x</string></dict></plist>"));
    std::string binaryNul(reinterpret_cast<const char*>(binary), sizeof binary);
    binaryNul[13] = '\0'; // the key "1234" becomes "1\0" "34"
    EXPECT_FALSE(PropertyList::fromData(binaryNul));
}

TEST(UUID, ParsesCanonicalTextInTextOrder)
{
    auto id = UUID::fromString("b4a4d54f-45fd-4890-8cc8-3b4d807eb23a");
    ASSERT_TRUE(id);
    const std::array<uint8_t, 16> expected{0xB4, 0xA4, 0xD5, 0x4F, 0x45, 0xFD, 0x48, 0x90,
                                           0x8C, 0xC8, 0x3B, 0x4D, 0x80, 0x7E, 0xB2, 0x3A};
    EXPECT_EQ(id->bytes(), expected);
    EXPECT_EQ(id->string(), "B4A4D54F-45FD-4890-8CC8-3B4D807EB23A");
    EXPECT_TRUE(UUID::fromString("{B4A4D54F-45FD-4890-8CC8-3B4D807EB23A}"));
    for (const char* bad : {"", "B4A4D54F45FD48908CC83B4D807EB23A", "B4A4D54F-45FD-4890-8CC8-3B4D807EB23",
                            "G4A4D54F-45FD-4890-8CC8-3B4D807EB23A", "B4A4D54F-45FD-4890-8CC8_3B4D807EB23A"})
        EXPECT_FALSE(UUID::fromString(bad)) << bad;
}

// A folder of the test's own while it runs.
class FilesBeside : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/orva-files-XXXXXX";
        ASSERT_TRUE(::mkdtemp(pattern));
        base = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(base); }
    std::filesystem::path base;
};

TEST_F(FilesBeside, WorkingFilesAreMadeBesideTheirDestinationAndPlacedWithoutOverwriting)
{
    auto& fm = FileManager::defaultManager();
    const std::string dir = base.string();
    std::ofstream(dir + "/b") << "B";
    std::string error, first, second;
    EXPECT_TRUE(fm.freeSpace(dir).value_or(0) > 0);
    EXPECT_FALSE(fm.freeSpace("/nonexistent/path"));

    // Hidden, private, numbered when the name is taken; found again from its name.
    int fd = fm.createWorkingFile(dir + "/b", &first, &error);
    ASSERT_GE(fd, 0) << error;
    const int other = fm.createWorkingFile(dir + "/b", &second, &error);
    ASSERT_GE(other, 0) << error;
    EXPECT_EQ(first, dir + "/.b.recording");
    EXPECT_EQ(second, dir + "/.b.2.recording");
    EXPECT_EQ(FileManager::destinationOfWorkingFile(second), dir + "/b");
    struct stat st{};
    ASSERT_EQ(::stat(first.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ::close(other);

    // Placing a finished file: never over what is there unless asked, in one step.
    ASSERT_EQ(::write(fd, "new", 3), 3);
    EXPECT_FALSE(fm.placeFile(fd, first, dir + "/b", false, &error));
    EXPECT_NE(error.find("already exists"), std::string::npos);
    EXPECT_FALSE(fm.fileExistsAtPath(first));
    fd = fm.createWorkingFile(dir + "/b", &first, &error);
    ASSERT_EQ(::write(fd, "new", 3), 3);
    EXPECT_TRUE(fm.placeFile(fd, first, dir + "/b", true, &error)) << error;
    std::ifstream placed(dir + "/b");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(placed), {}), "new");

    // Handed over once: the asset writer takes the descriptor, lock and all.
    fd = fm.createWorkingFile(dir + "/c", &first, &error);
    fm.handOverWorkingFile(first, fd);
    EXPECT_EQ(fm.takeWorkingFile(first), fd);
    EXPECT_EQ(fm.takeWorkingFile(first), -1);
    ::close(fd);
}

TEST_F(FilesBeside, RemovesOnlyRegularFilesAndFindsWorkingFilesNoProcessHolds)
{
    auto& fm = FileManager::defaultManager();
    std::ofstream(base / "target") << "keep";
    std::filesystem::create_symlink(base / "target", base / "link");
    ASSERT_EQ(::mkfifo((base / "fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(base / "folder");
    for (const char* name : {"link", "fifo", "folder"}) {
        EXPECT_FALSE(fm.removeItemAtPath((base / name).string())) << name;
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(base / name))) << name;
    }
    EXPECT_TRUE(fm.removeItemAtPath((base / "target").string()));
    EXPECT_FALSE(std::filesystem::exists(base / "target"));

    // A working file a live writer holds (this process) is not listed, nor an empty
    // one, nor another hidden file; one nobody holds is.
    std::string held, error;
    const int fd = fm.createWorkingFile((base / "live.mov").string(), &held, &error);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "movie", 5), 5);
    std::ofstream(base / ".clip.mov.recording") << "movie";
    std::ofstream(base / ".empty.mov.recording");
    std::ofstream(base / ".notes.txt") << "text";
    const auto leftovers = fm.leftoverFiles(base.string());
    ASSERT_EQ(leftovers.size(), 1u);
    EXPECT_EQ(leftovers[0].path, (base / ".clip.mov.recording").string());
    EXPECT_EQ(leftovers[0].bytes, 5u);
    ::close(fd); // its writer ended without finishing it
    EXPECT_EQ(fm.leftoverFiles(base.string()).size(), 2u);
}

TEST_F(FilesBeside, InputsThatAreNotRegularFilesAreRefusedAtOnce)
{
    auto& fm = FileManager::defaultManager();
    const std::string fifo = (base / "pipe").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string error;
    // Each of these would block for ever opening a pipe nobody writes to.
    EXPECT_FALSE(fm.readRegularFile(fifo, 1 << 20, &error));
    EXPECT_EQ(error, "\"" + fifo + "\" is a pipe, not a file");
    EXPECT_FALSE(fm.readRegularFile("/dev/zero", 1 << 20, &error));
    EXPECT_EQ(error, "\"/dev/zero\" is a device, not a file");
    EXPECT_FALSE(fm.readRegularFile(base.string(), 1 << 20, &error));
    EXPECT_NE(CatalogueFile::read(fifo).error.find("is a pipe"), std::string::npos);
    EXPECT_NE(CatalogueFile::read("/dev/zero").error.find("is a device"), std::string::npos);
    EXPECT_FALSE(MovieProbe::probe(fifo, &error));
    EXPECT_NE(error.find("is a pipe"), std::string::npos);
    EXPECT_FALSE(ImageReader::read(fifo, &error));
    EXPECT_NE(error.find("is a pipe"), std::string::npos);

    // A regular file is read up to its limit and refused past it.
    const std::string file = (base / "four").string();
    std::ofstream(file) << "four";
    EXPECT_EQ(fm.readRegularFile(file, 4, &error), std::optional<std::string>("four"));
    EXPECT_FALSE(fm.readRegularFile(file, 3, &error));
    EXPECT_NE(error.find("is larger than"), std::string::npos);
}

TEST(LogSink, AHostThatSetsASinkGetsEveryConsoleLineAndItsStandardOutputStaysEmpty)
{
    std::vector<std::pair<OrvaLogLevel, std::string>> lines;
    std::mutex mutex;
    OrvaSetLogSink([&](OrvaLogLevel level, const std::string& line) {
        std::lock_guard lock(mutex);
        lines.emplace_back(level, line);
    });
    char folder[] = "/tmp/orva-log-XXXXXX";
    ASSERT_TRUE(::mkdtemp(folder));
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    {
        // A movie's writer says when it starts and finishes; the PCM generator warns of
        // silence it puts in; the system log has its lines.
        auto creator = CreateMovieCreator((std::string(folder) + "/m.mov").c_str());
        _OrvaAudioDescription audio{0x636D, 1, 16000, 16};
        ASSERT_EQ(creator->Open(nullptr, &audio), 0);
        std::vector<uint8_t> sound(320);
        (void)creator->AddSampleToMovie(sound.data(), 320, 1000000, OrvaMovieCreator::Audio);
        (void)creator->AddSampleToMovie(sound.data(), 320, 1100000, OrvaMovieCreator::Audio);
        (void)creator->Close();
        SystemLog::log("a system log line");
    }
    const std::string printed = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
    OrvaSetLogSink(nullptr);
    std::filesystem::remove_all(folder);
    EXPECT_EQ(printed, "") << "nothing behind the host's back";
    std::lock_guard lock(mutex);
    auto has = [&](OrvaLogLevel level, const std::string& start) {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const auto& l) { return l.first == level && l.second.rfind(start, 0) == 0; });
    };
    EXPECT_TRUE(has(OrvaLogLevel::Info, "Starting writing ["));
    EXPECT_TRUE(has(OrvaLogLevel::Info, "Finished writing ["));
    EXPECT_TRUE(has(OrvaLogLevel::Warning, "[WARNING]: Inserting 9 silence packets!!!"));
    EXPECT_TRUE(has(OrvaLogLevel::Info, "a system log line"));
}
