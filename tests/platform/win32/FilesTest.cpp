// Files, paths and text conversion.

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <shlwapi.h>
#include <windows.h>

TEST(CreateFileW, DispositionsAndErrors)
{
    char Directory[] = "/tmp/ostrel-test-XXXXXX";
    ASSERT_TRUE(mkdtemp(Directory));
    const std::wstring Path = std::wstring(Directory, Directory + std::strlen(Directory)) + L"/file.dmp";
    HANDLE File = CreateFileW(Path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(File, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    DWORD Written = 0;
    EXPECT_TRUE(WriteFile(File, "abc", 3, &Written, nullptr));
    CloseHandle(File);
    // Replacing an existing file says so, and empties it.
    File = CreateFileW(Path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(File);
    EXPECT_EQ(CreateFileW(Path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(CreateFileW((Path + L"/x").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    const std::string Narrow(Path.begin(), Path.end());
    FILE* Stream = std::fopen(Narrow.c_str(), "rb");
    ASSERT_NE(Stream, nullptr);
    EXPECT_EQ(std::fgetc(Stream), EOF);
    std::fclose(Stream);
    std::remove(Narrow.c_str());
    rmdir(Directory);
}

TEST(CreateFileW, PrivateRegularFilesOnlyNeverFollowedOrBlocking)
{
    char Directory[] = "/tmp/ostrel-test-XXXXXX";
    ASSERT_TRUE(mkdtemp(Directory));
    const std::string Folder = Directory;
    const auto Wide = [](const std::string& Path) { return std::wstring(Path.begin(), Path.end()); };
    const auto Create = [&](const std::string& Path) {
        return CreateFileW(Wide(Path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    const auto Contents = [](const std::string& Path) {
        std::string Text(64, '\0');
        FILE* Stream = std::fopen(Path.c_str(), "rb");
        Text.resize(Stream ? std::fread(Text.data(), 1, Text.size(), Stream) : 0);
        if (Stream)
            std::fclose(Stream);
        return Text;
    };
    const mode_t Mask = umask(0);

    // New files are private whatever the mask allows.
    const std::string Dump = Folder + "/a.dmp";
    HANDLE File = Create(Dump);
    ASSERT_NE(File, INVALID_HANDLE_VALUE);
    CloseHandle(File);
    struct stat Status;
    ASSERT_EQ(stat(Dump.c_str(), &Status), 0);
    EXPECT_EQ(Status.st_mode & 0777, 0600u);

    // An existing file, readable by all and linked elsewhere, gives way to a
    // new private one; the other name keeps the old contents.
    const std::string Other = Folder + "/other";
    ASSERT_EQ(chmod(Dump.c_str(), 0644), 0);
    {
        FILE* Stream = std::fopen(Dump.c_str(), "wb");
        std::fputs("old", Stream);
        std::fclose(Stream);
    }
    ASSERT_EQ(link(Dump.c_str(), Other.c_str()), 0);
    File = Create(Dump);
    ASSERT_NE(File, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(File);
    ASSERT_EQ(stat(Dump.c_str(), &Status), 0);
    EXPECT_EQ(Status.st_mode & 0777, 0600u);
    EXPECT_EQ(Contents(Dump), "");
    EXPECT_EQ(Contents(Other), "old");

    // A link at the name is not followed, and its target stays as it was.
    const std::string Link = Folder + "/link.dmp";
    ASSERT_EQ(symlink(Other.c_str(), Link.c_str()), 0);
    for (DWORD Disposition : {CREATE_ALWAYS, OPEN_ALWAYS, OPEN_EXISTING, TRUNCATE_EXISTING})
    {
        EXPECT_EQ(CreateFileW(Wide(Link).c_str(), GENERIC_WRITE, 0, nullptr, Disposition, 0, nullptr),
                  INVALID_HANDLE_VALUE)
            << Disposition;
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(Contents(Other), "old");
    ASSERT_EQ(lstat(Link.c_str(), &Status), 0);
    EXPECT_TRUE(S_ISLNK(Status.st_mode));

    // Nor does a FIFO block (nobody reads it) or a device open.
    const std::string Fifo = Folder + "/fifo.dmp";
    ASSERT_EQ(mkfifo(Fifo.c_str(), 0600), 0);
    EXPECT_EQ(Create(Fifo), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(CreateFileW(L"/dev/null", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    // Truncating an existing regular file still works.
    File = CreateFileW(Wide(Other).c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
    ASSERT_NE(File, INVALID_HANDLE_VALUE);
    CloseHandle(File);
    EXPECT_EQ(Contents(Other), "");

    umask(Mask);
    for (const std::string& Path : {Dump, Other, Link, Fifo})
        unlink(Path.c_str());
    rmdir(Directory);
}

namespace {

std::string Contents(const std::string& Path)
{
    std::string Text;
    if (FILE* Stream = std::fopen(Path.c_str(), "rb"))
    {
        for (int Character; (Character = std::fgetc(Stream)) != EOF;)
            Text += static_cast<char>(Character);
        std::fclose(Stream);
    }
    return Text;
}

void Put(const std::string& Path, const char* Text)
{
    FILE* Stream = std::fopen(Path.c_str(), "wb");
    ASSERT_NE(Stream, nullptr);
    std::fputs(Text, Stream);
    std::fclose(Stream);
}

std::wstring Wide(const std::string& Text) { return std::wstring(Text.begin(), Text.end()); }

} // namespace

// A move replaces a file or a link (the link itself) in one step, and nothing
// else; without leave to replace, an existing name stays.
TEST(MoveFileExW, ReplacesFilesAndLinksOnlyAndNeverTheirTargets)
{
    char Directory[] = "/tmp/ostrel-test-XXXXXX";
    ASSERT_TRUE(mkdtemp(Directory));
    const std::string Folder = Directory;
    const std::string From = Folder + "/new", To = Folder + "/old", Target = Folder + "/target";
    const DWORD Replace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

    Put(From, "new");
    Put(To, "old");
    EXPECT_FALSE(MoveFileExW(Wide(From).c_str(), Wide(To).c_str(), 0));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(Contents(From), "new");
    EXPECT_EQ(Contents(To), "old");
    EXPECT_TRUE(MoveFileExW(Wide(From).c_str(), Wide(To).c_str(), Replace));
    EXPECT_EQ(Contents(To), "new");
    EXPECT_EQ(access(From.c_str(), F_OK), -1);

    // A link at the name is replaced; what it named is untouched.
    Put(Target, "target");
    ASSERT_EQ(symlink(Target.c_str(), (Folder + "/link").c_str()), 0);
    Put(From, "new");
    EXPECT_TRUE(MoveFileExW(Wide(From).c_str(), Wide(Folder + "/link").c_str(), Replace));
    struct stat Status;
    ASSERT_EQ(lstat((Folder + "/link").c_str(), &Status), 0);
    EXPECT_TRUE(S_ISREG(Status.st_mode));
    EXPECT_EQ(Contents(Target), "target");

    // A folder or a FIFO at the name is refused and both names stay.
    ASSERT_EQ(mkdir((Folder + "/folder").c_str(), 0700), 0);
    ASSERT_EQ(mkfifo((Folder + "/fifo").c_str(), 0600), 0);
    Put(From, "new");
    for (const char* Name : {"/folder", "/fifo"})
    {
        EXPECT_FALSE(MoveFileExW(Wide(From).c_str(), Wide(Folder + Name).c_str(), Replace)) << Name;
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << Name;
        EXPECT_EQ(Contents(From), "new") << Name;
    }
    ASSERT_EQ(lstat((Folder + "/fifo").c_str(), &Status), 0);
    EXPECT_TRUE(S_ISFIFO(Status.st_mode));
    EXPECT_FALSE(MoveFileExW(Wide(Folder + "/absent").c_str(), Wide(To).c_str(), Replace));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    // DeleteFileW removes a link, not what it names, and refuses a folder.
    ASSERT_EQ(symlink(Target.c_str(), (Folder + "/link2").c_str()), 0);
    EXPECT_TRUE(DeleteFileW(Wide(Folder + "/link2").c_str()));
    EXPECT_EQ(Contents(Target), "target");
    EXPECT_FALSE(DeleteFileW(Wide(Folder + "/folder").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DeleteFileW(Wide(Folder + "/absent").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    // What is flushed is a file's; anything else is no handle.
    const HANDLE File =
        CreateFileW(Wide(Folder + "/flushed").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(File, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(FlushFileBuffers(File));
    CloseHandle(File);
    EXPECT_FALSE(FlushFileBuffers(File));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    for (const char* Name : {"/old", "/link", "/target", "/fifo", "/new", "/flushed"})
        std::remove((Folder + Name).c_str());
    rmdir((Folder + "/folder").c_str());
    rmdir(Directory);
}

TEST(ShellHelpers, PathsAndNumbers)
{
    wchar_t Buffer[MAX_PATH];
    EXPECT_STREQ(PathCombineW(Buffer, L"/opt/bin/", L"a.dmp"), L"/opt/bin/a.dmp");
    EXPECT_STREQ(PathCombineW(Buffer, L"/opt/bin", L"a.dmp"), L"/opt/bin/a.dmp");
    EXPECT_STREQ(PathCombineW(Buffer, L"/opt/bin", L"/abs"), L"/abs");
    EXPECT_EQ(PathCombineW(Buffer, L"/opt", std::wstring(MAX_PATH, L'n').c_str()), nullptr);
    EXPECT_STREQ(PathFindFileNameW(L"/opt/bin/ostrel"), L"ostrel");
    EXPECT_STREQ(PathFindFileNameW(L"C:\\W\\d3d11.dll"), L"d3d11.dll");
    EXPECT_STREQ(PathFindFileNameW(L"/opt/bin/"), L"bin/");
    EXPECT_STREQ(PathFindFileNameW(L"plain"), L"plain");
    EXPECT_STREQ(PathFindFileNameW(L""), L"");

    int Value = -1;
    EXPECT_TRUE(StrToIntExW(L"6182", STIF_DEFAULT, &Value));
    EXPECT_EQ(Value, 6182);
    EXPECT_TRUE(StrToIntExW(L"0x1826", STIF_SUPPORT_HEX, &Value));
    EXPECT_EQ(Value, 0x1826);
    EXPECT_TRUE(StrToIntExW(L"0x1826", STIF_DEFAULT, &Value)); // the zero, then no digits
    EXPECT_EQ(Value, 0);
    EXPECT_TRUE(StrToIntExW(L" -12abc", STIF_DEFAULT, &Value));
    EXPECT_EQ(Value, -12);
    EXPECT_TRUE(StrToIntExW(L"0xFFFFFFFF", STIF_SUPPORT_HEX, &Value));
    EXPECT_EQ(Value, -1);
    EXPECT_FALSE(StrToIntExW(L"abc", STIF_SUPPORT_HEX, &Value));
    EXPECT_EQ(Value, 0);
    EXPECT_FALSE(StrToIntExW(L"", STIF_DEFAULT, &Value));

    wchar_t Wide[8];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC3\xA9t\xC3\xA9", -1, Wide, 8), 4);
    EXPECT_STREQ(Wide, L"\u00E9t\u00E9");
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC3(", 2, Wide, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xC3(", 2, Wide, 8), 2); // replaced
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcdefghij", 10, Wide, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcdefghij", 10, nullptr, 0), 10);
}
