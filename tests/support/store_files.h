// Store files for the registry store's tests: a fresh directory per test, the file's bytes in
// the encodings and line endings a .reg file may have, and the tree read back as text
// (tree_text.h).
#pragma once

#include "registry/registry_api.h"
#include "registry/store/key_tree.h"
#include "registry/store/registry_store.h"
#include "text/utf8.h"
#include "tree_text.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// How a test spells a store: the same text in each form a .reg file may take.
struct StoreForm {
    const char* name;
    bool utf16;      // UTF-16LE with its byte-order mark, else UTF-8
    bool utf8Bom;    // a UTF-8 byte-order mark
    const char* eol; // the line ending that replaces each "\n" of the text
};

const StoreForm kStoreForms[] = {
    {"UTF-8, CRLF", false, false, "\r\n"},     {"UTF-8, LF", false, false, "\n"},
    {"UTF-8 with BOM, CR", false, true, "\r"}, {"UTF-16LE, CRLF", true, false, "\r\n"},
    {"UTF-16LE, LF", true, false, "\n"},       {"UTF-16LE, CR", true, false, "\r"},
};

// text (UTF-8, lines ending in "\n") in the form's encoding and line endings.
inline std::string InForm(const StoreForm& form, const std::string& text) {
    std::string lines;
    for (char byte : text) {
        if (byte == '\n') {
            lines += form.eol;
        } else {
            lines.push_back(byte);
        }
    }
    if (!form.utf16) {
        return form.utf8Bom ? "\xEF\xBB\xBF" + lines : lines;
    }
    const std::wstring units = DecodeUtf8(lines.data(), lines.size());
    std::string bytes = "\xFF\xFE";
    for (wchar_t unit : units) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>((unit >> 8) & 0xFF));
    }
    return bytes;
}

inline std::string Repeated(const std::string& piece, int count) {
    std::string out;
    for (int at = 0; at < count; ++at) {
        out += piece;
    }
    return out;
}

inline std::string ReadFileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The names in a directory, sorted, one a line: for checking that a write leaves nothing behind.
inline std::string DirectoryListing(const std::string& path) {
    std::vector<std::string> names;
    DIR* directory = opendir(path.c_str());
    for (dirent* entry = directory != nullptr ? readdir(directory) : nullptr; entry != nullptr;
         entry = readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    if (directory != nullptr) {
        closedir(directory);
    }
    std::sort(names.begin(), names.end());
    std::string listing;
    for (const std::string& name : names) {
        listing += name + "\n";
    }
    return listing;
}

// A directory of its own for each test, removed afterwards; the store is unloaded.
class StoreTest : public testing::Test {
  protected:
    void SetUp() override {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/store-test-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(&pattern[0]));
        directory = pattern;
        storePath = directory + "/store.reg";
    }

    void TearDown() override {
        UnloadRegistryStore();
        const std::string command = "rm -rf '" + directory + "'";
        ASSERT_EQ(0, std::system(command.c_str()));
    }

    // Writes the store and loads it, failing the test when it does not load.
    void LoadStore(const std::string& bytes) {
        WriteFileBytes(storePath, bytes);
        std::string error;
        ASSERT_TRUE(LoadRegistryStore(storePath.c_str(), &error)) << error;
    }

    // A key below HKEY_LOCAL_MACHINE, failing the test when it does not open.
    HKEY Open(const wchar_t* path, REGSAM access) {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, &key));
        return key;
    }

    std::string directory;
    std::string storePath;
};

// Sets a REG_SZ value to text, its terminating zero counted.
inline LSTATUS WriteText(HKEY key, const wchar_t* name, const std::wstring& text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * 2));
}

// A value read as text, or "<error N>" when it cannot be read.
inline std::wstring ReadText(HKEY key, const wchar_t* name) {
    wchar_t text[64] = {};
    DWORD length = sizeof text - sizeof text[0];
    const LSTATUS status =
        RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &length);
    return status == ERROR_SUCCESS ? std::wstring(text)
                                   : L"<error " + std::to_wstring(status) + L">";
}

// The lines of a that b lacks, sorted: what a write added to a tree's or a hive's text.
inline std::vector<std::string> LinesOnlyIn(const std::string& a, const std::string& b) {
    std::vector<std::string> sides[2];
    for (int side = 0; side < 2; ++side) {
        std::istringstream stream(side == 0 ? a : b);
        for (std::string line; std::getline(stream, line);) {
            sides[side].push_back(line);
        }
        std::sort(sides[side].begin(), sides[side].end());
    }
    std::vector<std::string> only;
    std::set_difference(sides[0].begin(), sides[0].end(), sides[1].begin(), sides[1].end(),
                        std::back_inserter(only));
    return only;
}

// Forks runs processes that share the store loaded so far; once all have started, each opens
// keyPath for writing and sets "Run<n>" to "x". Every run must report its write as done.
inline void WriteFromRunsAtOnce(int runs, const wchar_t* keyPath) {
    int start[2];
    ASSERT_EQ(0, pipe(start));
    std::vector<pid_t> children;
    for (int run = 0; run < runs; ++run) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // The pipe reads its end only when the parent has closed it: all start together.
            close(start[1]);
            char go;
            const bool started = read(start[0], &go, 1) == 0;
            HKEY key = nullptr;
            const std::wstring name = L"Run" + std::to_wstring(run);
            const bool wrote =
                started &&
                RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_SET_VALUE, &key) == 0 &&
                WriteText(key, name.c_str(), L"x") == ERROR_SUCCESS;
            _exit(wrote ? 0 : 1);
        }
        children.push_back(child);
    }
    close(start[0]);
    close(start[1]);
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
}
