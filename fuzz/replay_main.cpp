// Runs a libFuzzer entry point over files, as an ordinary test: every file
// named on the command line, and every file inside each named folder (a
// missing folder is fine: a target may have no crash inputs yet). Each input
// is copied into a buffer of exactly its size so that an over-read is caught
// by the sanitizers.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static int runFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
        return 1;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() ? bytes.size() : 1]);
    if (!bytes.empty()) std::memcpy(exact.get(), bytes.data(), bytes.size());
    LLVMFuzzerTestOneInput(exact.get(), bytes.size());
    return 0;
}

int main(int argc, char** argv) {
    int failures = 0, inputs = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat st;
        if (stat(argv[i], &st) != 0) continue;
        if (S_ISREG(st.st_mode)) {
            failures += runFile(argv[i]);
            ++inputs;
            continue;
        }
        DIR* dir = opendir(argv[i]);
        if (!dir) continue;
        std::vector<std::string> names;
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') names.push_back(entry->d_name);
        }
        closedir(dir);
        for (const std::string& name : names) {
            std::string path = std::string(argv[i]) + "/" + name;
            if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
                failures += runFile(path);
                ++inputs;
            }
        }
    }
    std::printf("replayed %d inputs\n", inputs);
    return failures ? 1 : 0;
}
