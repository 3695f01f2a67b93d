// create_private_file of the native build: O_EXCL and mode 0600.
#include "publish/key_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace df::publish {

Result<> create_private_file(const std::filesystem::path& path, const std::string& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return Failure{std::strerror(errno)};
    int failed = ::fchmod(fd, 0600) == 0 ? 0 : errno;  // whatever the umask left
    for (std::size_t done = 0; !failed && done < bytes.size();) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) done += static_cast<std::size_t>(n);
        else if (errno != EINTR) failed = errno;
    }
    if (!failed && ::fsync(fd) != 0) failed = errno;
    if (::close(fd) != 0 && !failed) failed = errno;
    if (!failed) return {};
    ::unlink(path.c_str());
    return Failure{std::strerror(failed)};
}

}  // namespace df::publish
