// A scratch directory per test, removed with everything in it.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <dirent.h>
#include <unistd.h>

namespace krvnhosttest {

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/krvn-host-XXXXXX";
        path_ = ::mkdtemp(tmpl) ? tmpl : "/tmp";
    }
    ~TempDir() { removeTree(path_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

    void write(const std::string& name, const std::string& text) const {
        std::string full = file(name);
        for (size_t slash = full.find('/', path_.size() + 1); slash != std::string::npos;
             slash = full.find('/', slash + 1))
            ::mkdir(full.substr(0, slash).c_str(), 0700);
        std::ofstream(full, std::ios::binary) << text;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(file(name), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        if (DIR* d = ::opendir(path_.c_str())) {
            while (dirent* e = ::readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") out.push_back(e->d_name);
            ::closedir(d);
        }
        return out;
    }

private:
    static void removeTree(const std::string& path) {
        if (DIR* d = ::opendir(path.c_str())) {
            while (dirent* e = ::readdir(d)) {
                std::string name = e->d_name;
                if (name != "." && name != "..") removeTree(path + "/" + name);
            }
            ::closedir(d);
            ::rmdir(path.c_str());
        } else {
            ::unlink(path.c_str());
        }
    }
    std::string path_;
};

}  // namespace krvnhosttest
