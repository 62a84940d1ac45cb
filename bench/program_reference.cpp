// Helper of bench/program.sh: makes the compressed payload and times the
// reference that the program's expansion and install are measured against.
//   program_reference make MIB PAYLOAD
//     PAYLOAD becomes one zlib stream of MIB MiB of text-like content.
//   program_reference reference PAYLOAD EXPANDED INSTALLED
//     Inflates PAYLOAD into EXPANDED (64 KiB buffers) and fsyncs it, then
//     copies EXPANDED to INSTALLED in the kernel (copy_file_range) and fsyncs
//     that; prints the seconds taken.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/Reference.h"

namespace {

constexpr std::size_t MiB = 1 << 20;


int OpenOut(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error(path + ": " + std::strerror(errno));
    return fd;
}

void KernelCopy(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) throw std::runtime_error(from + ": " + std::strerror(errno));
    const int out = OpenOut(to);
    struct stat st {};
    ::fstat(in, &st);
    for (off_t left = st.st_size; left > 0;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, static_cast<std::size_t>(left), 0);
        if (n <= 0) throw std::runtime_error(std::string("copy_file_range: ") + std::strerror(errno));
        left -= n;
    }
    ::fsync(out);
    ::close(in);
    ::close(out);
}

int Usage() {
    std::fprintf(stderr,
                 "usage: program_reference make MIB PAYLOAD\n"
                 "       program_reference reference PAYLOAD EXPANDED INSTALLED\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string command = argc > 1 ? argv[1] : "";
        if (command == "make" && argc == 4) {
            ue::bench::WritePayload(argv[3], std::strtoull(argv[2], nullptr, 10) * MiB, true);
            return 0;
        }
        if (command == "reference" && argc == 5) {
            const auto start = std::chrono::steady_clock::now();
            ue::bench::InflateToFile(argv[2], argv[3], true);
            KernelCopy(argv[3], argv[4]);
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            std::printf("%.3f\n", took.count());
            return 0;
        }
        return Usage();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "program_reference: %s\n", e.what());
        return 1;
    }
}
