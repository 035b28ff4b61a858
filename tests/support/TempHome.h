#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace dovrel::test {

// A fresh temporary folder, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "dovrel-test-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) std::abort();
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Saves descriptors 1 and 2 and puts them back when it goes, for code under test that redirects them.
class StdStreamsGuard {
public:
    StdStreamsGuard() : out_(::dup(1)), err_(::dup(2)) {}
    ~StdStreamsGuard() {
        std::fflush(stdout);
        std::fflush(stderr);
        ::dup2(out_, 1);
        ::dup2(err_, 2);
        ::close(out_);
        ::close(err_);
    }
    StdStreamsGuard(const StdStreamsGuard&) = delete;
    StdStreamsGuard& operator=(const StdStreamsGuard&) = delete;

private:
    int out_;
    int err_;
};

} // namespace dovrel::test
