// The services of the operating system the command needs beyond standard C++: files that
// must be private, exclusive or flushed to the disk, directories worked on by name, the
// usual places of the user's files, a command's output and a prompt without echo. One
// implementation per system (system_posix.cpp, system_windows.cpp), chosen by the build;
// the rest of the command is the same everywhere. Failures leave a POSIX error number in
// errno (Windows errors are mapped), so that messages read alike on every system.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

namespace tolmail::cli::sys {

/// Readies the process: standard input and output carry bytes unchanged.
void StartProgram();

/// What a file is.
struct FileFacts {
    bool regular = false;
    bool directory = false;
    /// The permission bits of group and others (mode & 077). Always 0 on Windows, where
    /// the user's profile, not a mode, keeps others out.
    unsigned sharedMode = 0;
    long long size = 0;
};

/// Opens `path` for reading: not inherited by child processes, never waiting on a FIFO,
/// never becoming the controlling terminal. A descriptor, or -1 with errno.
int OpenToRead(const std::string& path);
/// Creates `path` for writing: owner-only, failing when any entry of that name exists
/// (a link included). A descriptor, or -1 with errno.
int CreatePrivate(const std::string& path);
/// Creates an owner-only file named `pattern` with its trailing "XXXXXX" made unique,
/// and writes the name chosen into `pattern`. A descriptor, or -1 with errno.
int CreateUnique(std::string& pattern);
/// Reads up to `size` bytes, again when a signal interrupts; the count, 0 at the end, -1.
long ReadSome(int fd, void* data, size_t size);
/// Closes; 0 or errno (a failed close can mean lost data).
int Close(int fd);
/// Puts what was written to `fd` on the disk; 0 or errno.
int Flush(int fd);

/// Facts of an open file; false with errno.
bool Describe(int fd, FileFacts& facts);
/// Facts of `path`, of the link itself when `followLinks` is false; false with errno.
bool DescribePath(const std::string& path, FileFacts& facts, bool followLinks = true);
/// True when this user may read `path`; false with errno.
bool Readable(const std::string& path);

/// Creates the owner-only directory `path`; 0 or errno (EEXIST when it exists).
int MakePrivateDirectory(const std::string& path);
/// Renames `from` to `to`, replacing `to`; 0 or errno.
int Replace(const std::string& from, const std::string& to);
/// Removes the file `path`.
void Remove(const std::string& path);

/// A directory open for work on the names inside it: the names stay inside it even when
/// its own path is renamed meanwhile (where the system allows).
class Directory {
public:
    /// Opens `path`; check ok(), errno says why it is not.
    explicit Directory(const std::string& path);
    /// Opens the sub-directory `name` of `parent`.
    Directory(const Directory& parent, const std::string& name);
    ~Directory();
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;

    bool ok() const { return open_; }
    /// A path that reaches `name` inside this directory.
    std::string pathOf(const std::string& name) const;

    /// Creates the owner-only sub-directory `name`; 0 or errno (EEXIST when it exists).
    int makeDirectory(const std::string& name) const;
    /// Creates `name` as CreatePrivate does. A descriptor, or -1 with errno (EEXIST or
    /// ELOOP when the name is taken).
    int createPrivate(const std::string& name) const;
    /// Makes `toName` in `to` a second name of `name` here; never replaces an entry.
    /// 0 or errno (EPERM or ENOTSUP where the file system has no such links).
    int link(const std::string& name, const Directory& to, const std::string& toName) const;
    /// Gives the file at `source` the name `name` here as a second name; never replaces
    /// an entry. 0 or errno.
    int linkFrom(const std::string& source, const std::string& name) const;
    /// Moves `name` to `toName` in `to`; 0 or errno.
    int rename(const std::string& name, const Directory& to, const std::string& toName) const;
    /// Removes the file `name`.
    void remove(const std::string& name) const;
    /// Puts the directory's entries on the disk, where the system asks for that.
    void flush() const;

private:
    bool open_ = false;
    int fd_ = -1;
    std::string path_;
    bool viaProc_ = false;
};

/// `name` (one component, already free of separators and control characters) as this
/// system can hold it: on Windows without the characters its names refuse or give a
/// meaning (":" would write into a hidden stream of another file), without trailing dots
/// and blanks, and not a device name such as "NUL" or "com1.txt". Unchanged elsewhere.
std::string LocalFileName(const std::string& name);

/// The host's name; "" when unknown.
std::string HostName();
/// This process's id.
long ProcessId();
/// True when `fd` is a terminal.
bool IsTerminal(int fd);
/// Overwrites `size` bytes at `data` in a way the compiler keeps.
void Wipe(void* data, size_t size);

/// The accounts file when --config names none; "" when no home is known.
std::string UsualConfigPath();
/// The netrc file; "" when no home is known.
std::string NetrcPath();
/// How the messages name the netrc file.
extern const char* const kNetrcShown;
/// Where fetch --new keeps its files.
std::string StateDirectory();

/// The help text `usage` with the places of the user's files and the shell as this system
/// has them (the text names the POSIX ones).
std::string HelpText(const char* usage);

/// Runs `command` with the system's shell, its output readable from the stream; nullptr
/// with errno when it cannot start.
std::FILE* StartCommand(const std::string& command);
/// Waits for the command; "" when it exited with status 0, else how it ended ("exited with
/// status N", "was killed by signal N").
std::string EndCommand(std::FILE* output);

/// Writes `prompt` to the terminal and reads one line (of at most `longest` bytes) with
/// echo off, echo back on every way out, an interrupt included. Nothing when standard
/// input is no terminal or the terminal cannot be used.
std::optional<std::string> ReadHidden(const std::string& prompt, size_t longest);

} // namespace tolmail::cli::sys
