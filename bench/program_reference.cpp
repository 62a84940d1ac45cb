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

namespace {

constexpr std::size_t MiB = 1 << 20;

// The same content as bench_files' payloads: text-like, compressing about 3:1.
void FillContent(std::vector<char>& chunk, unsigned& state) {
    static const char* const kWords[] = {"update ", "file ", "version ", "\x01\x02\x03", "registry ",
                                         "payload ", "\xff\xfe", "library ", "\n", "0123456789"};
    std::size_t n = 0;
    while (n < chunk.size()) {
        state = state * 1103515245 + 12345;
        for (const char* w = kWords[(state >> 16) % 10]; *w != '\0' && n < chunk.size(); ++w) chunk[n++] = *w;
        if ((state >> 8) % 7 == 0 && n < chunk.size()) chunk[n++] = static_cast<char>(state >> 24);
    }
}

void WriteAll(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) throw std::runtime_error(std::string("write: ") + std::strerror(errno));
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

int OpenOut(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error(path + ": " + std::strerror(errno));
    return fd;
}

void MakePayload(std::size_t size, const std::string& path) {
    const int out = OpenOut(path);
    z_stream z{};
    deflateInit(&z, Z_DEFAULT_COMPRESSION);
    std::vector<char> chunk(MiB), buffer(MiB);
    unsigned state = 1;
    for (std::size_t done = 0; done < size;) {
        FillContent(chunk, state);
        const std::size_t n = std::min(chunk.size(), size - done);
        done += n;
        z.next_in = reinterpret_cast<Bytef*>(chunk.data());
        z.avail_in = static_cast<uInt>(n);
        const int flush = done == size ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = reinterpret_cast<Bytef*>(buffer.data());
            z.avail_out = static_cast<uInt>(buffer.size());
            deflate(&z, flush);
            WriteAll(out, buffer.data(), buffer.size() - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    ::fsync(out);
    ::close(out);
}

void Inflate(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) throw std::runtime_error(from + ": " + std::strerror(errno));
    const int out = OpenOut(to);
    std::vector<Bytef> input(64 * 1024), output(64 * 1024);
    z_stream z{};
    inflateInit(&z);
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        const ssize_t n = ::read(in, input.data(), input.size());
        if (n <= 0) throw std::runtime_error("truncated payload");
        z.next_in = input.data();
        z.avail_in = static_cast<uInt>(n);
        while (z.avail_in > 0 && rc != Z_STREAM_END) {
            z.next_out = output.data();
            z.avail_out = static_cast<uInt>(output.size());
            rc = inflate(&z, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END) throw std::runtime_error("inflate");
            WriteAll(out, output.data(), output.size() - z.avail_out);
        }
    }
    inflateEnd(&z);
    ::fsync(out);
    ::close(in);
    ::close(out);
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
            MakePayload(std::strtoull(argv[2], nullptr, 10) * MiB, argv[3]);
            return 0;
        }
        if (command == "reference" && argc == 5) {
            const auto start = std::chrono::steady_clock::now();
            Inflate(argv[2], argv[3]);
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
