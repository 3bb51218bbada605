#include "files/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

namespace {

// errno as a failed call left it; EIO when it left none.
int failure() {
    return errno != 0 ? errno : EIO;
}

std::string extensionOf(const std::string& path) {
    const std::string::size_type slash = path.find_last_of('/');
    const std::string::size_type dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        dot == (slash == std::string::npos ? 0 : slash + 1))
        return "";
    return path.substr(dot);
}

std::string randomCharacters() {
    static constexpr char ALPHABET[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device device;
    std::string text(6, 'x');
    for (char& c : text)
        c = ALPHABET[device() % (sizeof ALPHABET - 1)];
    return text;
}

// A new temporary file beside `path`, created with the permissions opening
// `path` by name would give: 0666 less the umask (the kernel applies it), or
// an existing file's own. Returns its descriptor, or -1 with errno set.
int createBeside(const std::string& path, std::string& name) {
    struct stat previous {};
    const bool replacing = stat(path.c_str(), &previous) == 0 && S_ISREG(previous.st_mode);
    for (int attempt = 0; attempt < 100; attempt++) {
        name = temporaryNameBeside(path, randomCharacters());
        const int descriptor = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor < 0 && errno == EEXIST)
            continue;
        if (descriptor >= 0 && replacing && fchmod(descriptor, previous.st_mode & 07777) != 0) {
            const int error = errno;
            close(descriptor);
            unlink(name.c_str());
            errno = error;
            return -1;
        }
        return descriptor;
    }
    return -1;
}

// Removes the temporary file unless it has been put in place.
class TemporaryFile {
  public:
    explicit TemporaryFile(std::string name) : path(std::move(name)) {}
    ~TemporaryFile() {
        if (!kept)
            unlink(path.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& name() const { return path; }
    void keep() { kept = true; }

  private:
    std::string path;
    bool kept = false;
};

// Whether `path` names something other than a file or a folder (a device
// such as /dev/null, a pipe): it is written as it is, since renaming a file
// over it would remove it.
bool isSpecial(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode);
}

FileResult renameOver(TemporaryFile& temporary, const std::string& path) {
    if (std::rename(temporary.name().c_str(), path.c_str()) != 0)
        return {FileStatus::CannotReplace, failure()};
    temporary.keep();
    return {};
}

}  // namespace

std::string temporaryNameBeside(const std::string& path, const std::string& random) {
    return path + "." + random + extensionOf(path);
}

FileResult replaceFile(const std::string& path, const std::function<bool(std::FILE*)>& write) {
    std::string name;
    const bool special = isSpecial(path);
    const int descriptor =
        special ? open(path.c_str(), O_WRONLY | O_CLOEXEC) : createBeside(path, name);
    if (descriptor < 0)
        return {FileStatus::CannotCreate, failure()};
    TemporaryFile temporary(name);
    if (special)
        temporary.keep();
    std::FILE* file = fdopen(descriptor, "wb");
    if (file == nullptr) {
        const int error = failure();
        close(descriptor);
        return {FileStatus::CannotCreate, error};
    }
    errno = 0;
    int error = 0;
    if (!write(file) || std::fflush(file) != 0 || std::ferror(file) ||
        (!special && fsync(fileno(file)) != 0))
        error = failure();
    if (std::fclose(file) != 0 && error == 0)
        error = failure();
    if (error != 0)
        return {FileStatus::CannotWrite, error};
    return special ? FileResult{} : renameOver(temporary, path);
}

FileResult replaceFileNamed(const std::string& path,
                            const std::function<bool(const std::string&)>& write) {
    if (isSpecial(path)) {
        errno = 0;
        return write(path) ? FileResult{} : FileResult{FileStatus::CannotWrite, failure()};
    }
    std::string name;
    const int descriptor = createBeside(path, name);
    if (descriptor < 0)
        return {FileStatus::CannotCreate, failure()};
    TemporaryFile temporary(name);
    close(descriptor);
    errno = 0;
    if (!write(name))
        return {FileStatus::CannotWrite, failure()};
    // What the writer wrote, on the disk before it replaces anything.
    const int written = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (written < 0)
        return {FileStatus::CannotWrite, failure()};
    const int error = fsync(written) != 0 ? failure() : 0;
    close(written);
    if (error != 0)
        return {FileStatus::CannotWrite, error};
    return renameOver(temporary, path);
}
