// The skinpack command: exit codes, messages, files written and not written.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pack.h"
#include "pe_image.h"
#include "test_support.h"

namespace fs = std::filesystem;
using namespace skinpack_test;

namespace {

std::string quote(const std::string &s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

struct ToolRun
{
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

ToolRun runTool(const std::vector<std::string> &args, const std::string &workDir)
{
    std::string command = "cd " + quote(workDir) + " && " + quote(SKINPACK_EXE);
    for (const std::string &a : args)
        command += " " + quote(a);
    const std::string outFile = workDir + "/../" + fs::path(workDir).filename().string() + ".stdout";
    const std::string errFile = workDir + "/../" + fs::path(workDir).filename().string() + ".stderr";
    command += " >" + quote(outFile) + " 2>" + quote(errFile);
    ToolRun run;
    const int raw = std::system(command.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = slurp(outFile);
    run.err = slurp(errFile);
    fs::remove(outFile);
    fs::remove(errFile);
    return run;
}

// A file name as messages show it: control bytes as \xNN.
std::string shownName(const std::string &s)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (char c : s)
    {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f)
            out += std::string("\\x") + digits[u >> 4] + digits[u & 15];
        else
            out += c;
    }
    return out;
}

std::size_t lineCount(const std::string &s)
{
    std::size_t n = 0;
    for (char c : s)
        n += c == '\n';
    return n;
}

class Cli : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        work = freshFolder("cli");
        inputs = work + "/in";
        outputs = work + "/out";
        fs::create_directories(inputs);
        fs::create_directories(outputs);
        stub = dataPath("stub_bare.exe");
    }
    void TearDown() override
    {
        fs::remove_all(work);
    }

    std::string put(const std::string &name, const std::vector<std::uint8_t> &bytes)
    {
        const std::string path = inputs + "/" + name;
        writeBytes(path, bytes);
        return path;
    }

    std::string work, inputs, outputs, stub;
};

TEST_F(Cli, WritesOneInstallerPerSkin)
{
    const auto winter = winterSkin();
    // An odd size over several of the pieces the skin is copied in.
    const auto other = patternBytes(3 * 256 * 1024 + 12345, 2);
    const ToolRun run =
        runTool({"--stub", stub, "-o", outputs, put("Winter.ovs", winter), put("Other Skin.ovs", other)}, work);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    struct
    {
        const char *file;
        const char *resourceName;
        const std::vector<std::uint8_t> &skin;
    } expected[] = {{"setup [Winter.ovs].exe", "WINTER.OVS", winter},
                    {"setup [Other Skin.ovs].exe", "OTHER SKIN.OVS", other}};
    EXPECT_EQ(folderEntries(outputs).size(), std::size(expected));
    for (const auto &e : expected)
    {
        const auto bytes = readBytes(outputs + "/" + e.file);
        const skinpack::PeImage image = skinpack::PeImage::parse(bytes.data(), bytes.size());
        const auto resources = image.resources();
        ASSERT_EQ(resources.size(), 3u) << e.file;
        EXPECT_EQ(toAscii(resources[0].name.name), e.resourceName);
        EXPECT_TRUE(std::vector<std::uint8_t>(resources[0].data, resources[0].data + resources[0].size) == e.skin)
            << e.file;
        // Same bytes as the library gives.
        const auto stubData = stubBytes();
        const auto direct = skinpack::packInstaller(stubData.data(), stubData.size(),
                                                    std::string(e.file).substr(7, std::string(e.file).size() - 12),
                                                    e.skin.data(), e.skin.size());
        EXPECT_TRUE(direct == bytes) << e.file;
        const auto perms = fs::status(outputs + "/" + e.file).permissions();
        EXPECT_NE(perms & fs::perms::owner_exec, fs::perms::none) << e.file;
    }
}

TEST_F(Cli, DefaultsToTheCurrentFolderAndIsDeterministic)
{
    const std::string skin = put("Winter.ovs", winterSkin());
    const ToolRun first = runTool({"--stub", stub, skin}, outputs);
    ASSERT_EQ(first.status, 0) << first.err;
    const auto firstBytes = readBytes(outputs + "/setup [Winter.ovs].exe");
    const ToolRun second = runTool({"--stub", stub, skin}, outputs);
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_TRUE(readBytes(outputs + "/setup [Winter.ovs].exe") == firstBytes);
    EXPECT_EQ(folderEntries(outputs).size(), 1u) << "no temporary file may be left";
}

TEST_F(Cli, BuiltInStubWhenThereIsOne)
{
    const ToolRun run = runTool({"-o", outputs, put("Winter.ovs", winterSkin())}, work);
    if (run.status == 2 && run.err.find("no built-in stub") != std::string::npos)
        GTEST_SKIP() << "this build has no built-in stub (ORVANTA_STUB not set)";
    ASSERT_EQ(run.status, 0) << run.err;
    const auto bytes = readBytes(outputs + "/setup [Winter.ovs].exe");
    const skinpack::PeImage image = skinpack::PeImage::parse(bytes.data(), bytes.size());
    EXPECT_EQ(image.resources().size(), 3u);
}

struct BadSkinCase
{
    const char *label;
    const char *fileName; // created in the input folder unless `create` is false
    std::size_t size;
    bool create;
    bool directory;
    const char *expectedInMessage;
};

class CliBadSkins : public Cli, public ::testing::WithParamInterface<BadSkinCase>
{
};

const BadSkinCase badSkinCases[] = {
    {"missing", "Missing.ovs", 10, false, false, "no such file"},
    {"a folder", "Folder.ovs", 0, true, true, "not a regular file"},
    {"empty", "Empty.ovs", 0, true, false, "empty"},
    {"backslash", "a\\b.ovs", 10, true, false, "'\\'"},
    {"colon", "a:b.ovs", 10, true, false, "':'"},
    {"star", "a*b.ovs", 10, true, false, "'*'"},
    {"question mark", "a?b.ovs", 10, true, false, "'?'"},
    {"quote", "a\"b.ovs", 10, true, false, "'\"'"},
    {"less", "a<b.ovs", 10, true, false, "'<'"},
    {"greater", "a>b.ovs", 10, true, false, "'>'"},
    {"pipe", "a|b.ovs", 10, true, false, "'|'"},
    {"control byte",
     "a\x01"
     "b.ovs",
     10, true, false, "control character"},
    {"newline", "a\nb.ovs", 10, true, false, "control character"},
    {"tab", "a\tb.ovs", 10, true, false, "control character"},
    {"trailing dot", "skin.", 10, true, false, "dot"},
    {"trailing space", "skin ", 10, true, false, "space"},
    {"device name", "CON", 10, true, false, "reserved"},
    {"device name with extension", "con.ovs", 10, true, false, "reserved"},
    {"COM port", "com3.ovs", 10, true, false, "reserved"},
    {"LPT port", "LPT7.ovs", 10, true, false, "reserved"},
    {"open bracket", "a[b.ovs", 10, true, false, "'['"},
};

TEST_P(CliBadSkins, ExitOneNamingTheFileAndWriteNothing)
{
    const BadSkinCase c = GetParam();
    const std::string path = inputs + "/" + c.fileName;
    if (c.create)
    {
        if (c.directory)
            fs::create_directories(path);
        else
            writeBytes(path, patternBytes(c.size, 4));
    }
    const ToolRun run = runTool({"--stub", stub, "-o", outputs, path}, work);
    EXPECT_EQ(run.status, 1) << c.label << ": " << run.err;
    EXPECT_EQ(lineCount(run.err), 1u) << c.label << ": stderr \"" << run.err << "\"";
    EXPECT_NE(run.err.find(shownName(path)), std::string::npos)
        << c.label << ": stderr \"" << run.err << "\" should name " << shownName(path);
    EXPECT_NE(run.err.find(c.expectedInMessage), std::string::npos)
        << c.label << ": stderr \"" << run.err << "\", expected it to mention \"" << c.expectedInMessage << "\"";
    EXPECT_TRUE(folderEntries(outputs).empty()) << c.label << ": " << folderEntries(outputs).size() << " files written";
}

INSTANTIATE_TEST_SUITE_P(Table, CliBadSkins, ::testing::ValuesIn(badSkinCases),
                         [](const auto &caseInfo) { return testName(caseInfo.index, caseInfo.param.label); });

TEST_F(Cli, TooLongNameSaysTheLimit)
{
    const std::string name = std::string(skinpack::kMaxSkinNameLength + 1 - 4, 'L') + ".ovs";
    const ToolRun run = runTool({"--stub", stub, "-o", outputs, put(name, patternBytes(10, 1))}, work);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("at most " + std::to_string(skinpack::kMaxSkinNameLength)), std::string::npos) << run.err;
    EXPECT_TRUE(folderEntries(outputs).empty());
}

TEST_F(Cli, TooLargeSkinIsRefusedUnread)
{
    // A sparse file one byte past the limit: refused by its size.
    const std::string path = inputs + "/Huge.ovs";
    {
        std::ofstream(path, std::ios::binary).put('x');
    }
    fs::resize_file(path, skinpack::kMaxSkinSize + 1);
    const ToolRun run = runTool({"--stub", stub, "-o", outputs, path}, work);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("limit is " + std::to_string(skinpack::kMaxSkinSize)), std::string::npos) << run.err;
    EXPECT_TRUE(folderEntries(outputs).empty());
}

TEST_F(Cli, GoodSkinsAreWrittenWhenAnotherIsBad)
{
    const ToolRun run = runTool(
        {"--stub", stub, "-o", outputs, put("Good.ovs", patternBytes(50, 1)), put("con.ovs", patternBytes(50, 1))},
        work);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(lineCount(run.err), 1u) << run.err;
    const auto entries = folderEntries(outputs);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0], "setup [Good.ovs].exe");
}

struct BadStubCase
{
    const char *label;
    std::vector<std::uint8_t> (*make)();
    const char *expectedInMessage;
};

std::vector<std::uint8_t> textStub()
{
    return {'h', 'e', 'l', 'l', 'o'};
}
std::vector<std::uint8_t> cutStub()
{
    auto s = stubBytes();
    s.resize(s.size() / 2);
    return s;
}
std::vector<std::uint8_t> skinnedStub()
{
    return windresWinter();
}
std::vector<std::uint8_t> signedStub()
{
    auto s = stubBytes();
    const skinpack::PeImage image = skinpack::PeImage::parse(s.data(), s.size());
    skinpack::store32(s.data() + image.offsets.dataDirectories + 8 * skinpack::kDirSecurity, 0x4800);
    skinpack::store32(s.data() + image.offsets.dataDirectories + 8 * skinpack::kDirSecurity + 4, 0x10);
    return s;
}

class CliBadStubs : public Cli, public ::testing::WithParamInterface<BadStubCase>
{
};

const BadStubCase badStubCases[] = {
    {"not an executable", textStub, "no MZ header"},
    {"truncated", cutStub, "truncated"},
    {"already has a skin", skinnedStub, "already carries a SKIN resource"},
    {"signed", signedStub, "signed"},
};

TEST_P(CliBadStubs, ExitOneNamingTheStub)
{
    const BadStubCase c = GetParam();
    const std::string badStub = work + "/stub.exe";
    writeBytes(badStub, c.make());
    const ToolRun run = runTool({"--stub", badStub, "-o", outputs, put("Winter.ovs", winterSkin())}, work);
    EXPECT_EQ(run.status, 1) << c.label << ": " << run.err;
    EXPECT_EQ(lineCount(run.err), 1u) << c.label << ": " << run.err;
    EXPECT_NE(run.err.find(badStub + ": "), std::string::npos) << c.label << ": " << run.err;
    EXPECT_NE(run.err.find(c.expectedInMessage), std::string::npos)
        << c.label << ": stderr \"" << run.err << "\", expected it to mention \"" << c.expectedInMessage << "\"";
    EXPECT_TRUE(folderEntries(outputs).empty()) << c.label;
}

INSTANTIATE_TEST_SUITE_P(Table, CliBadStubs, ::testing::ValuesIn(badStubCases),
                         [](const auto &caseInfo) { return testName(caseInfo.index, caseInfo.param.label); });

TEST_F(Cli, MissingStubAndMissingOutputFolderExitOne)
{
    const std::string skin = put("Winter.ovs", winterSkin());
    struct
    {
        std::vector<std::string> args;
        const char *named;
    } cases[] = {
        {{"--stub", work + "/nope.exe", "-o", outputs, skin}, "nope.exe"},
        {{"--stub", stub, "-o", work + "/no-such-folder", skin}, "no-such-folder"},
    };
    for (const auto &c : cases)
    {
        const ToolRun run = runTool(c.args, work);
        EXPECT_EQ(run.status, 1) << c.named << ": " << run.err;
        EXPECT_NE(run.err.find(c.named), std::string::npos) << run.err;
    }
    EXPECT_TRUE(folderEntries(outputs).empty());
}

struct UsageCase
{
    std::vector<std::string> args;
    int status;
    const char *expectedOnStdout; // nullptr: anything
};

TEST_F(Cli, UsageAndInformation)
{
    const UsageCase cases[] = {
        {{}, 2, nullptr},
        {{"-o", outputs}, 2, nullptr},
        {{"-o"}, 2, nullptr},
        {{"--stub"}, 2, nullptr},
        {{"--bogus", "x.ovs"}, 2, nullptr},
        {{"-x", "x.ovs"}, 2, nullptr},
        {{"--help"}, 0, "usage: skinpack"},
        {{"-h"}, 0, "usage: skinpack"},
        {{"--version"}, 0, "skinpack "},
    };
    for (const UsageCase &c : cases)
    {
        const ToolRun run = runTool(c.args, work);
        std::string joined;
        for (const auto &a : c.args)
            joined += a + " ";
        EXPECT_EQ(run.status, c.status) << "args: " << joined << "stderr: " << run.err;
        if (c.status == 2)
        {
            EXPECT_NE(run.err.find("skinpack: "), std::string::npos) << joined << run.err;
        }
        if (c.expectedOnStdout != nullptr)
        {
            EXPECT_EQ(run.out.rfind(c.expectedOnStdout, 0), 0u) << joined << "stdout: " << run.out;
        }
    }
    EXPECT_TRUE(folderEntries(outputs).empty());
}

} // namespace
