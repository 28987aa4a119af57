#include "job/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "framework/exceptions.h"

namespace job {

const char* const DefaultTemplateName = "moravent-flash";

void WriteAtomically(const std::string& out, const std::string& bytes, bool executable)
{
    std::string tmp = out + ".XXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0)
        throw Exception(out + ": cannot create a temporary file beside it: " + std::strerror(errno));
    auto abandon = [&](const std::string& what) {
        const int e = errno;
        ::close(fd);
        ::unlink(tmp.c_str());
        throw Exception(out + ": " + what + ": " + std::strerror(e));
    };
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            abandon("cannot write");
        done += size_t(w);
    }
    if (::fchmod(fd, executable ? 0755 : 0644) != 0)
        abandon("cannot set its mode");
    if (::fsync(fd) != 0)
        abandon("cannot write");
    if (::close(fd) != 0) {
        const int e = errno;
        ::unlink(tmp.c_str());
        throw Exception(out + ": cannot write: " + std::strerror(e));
    }
    if (::rename(tmp.c_str(), out.c_str()) != 0) {
        const int e = errno;
        ::unlink(tmp.c_str());
        throw Exception(out + ": cannot put it in place: " + std::strerror(e));
    }
}

void RemoveFile(const std::string& path)
{
    ::unlink(path.c_str());
}

} // namespace job
