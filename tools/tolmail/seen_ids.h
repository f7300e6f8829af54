// The unique ids of the messages fetch --new has saved from one mailbox, kept between
// runs so that the next run fetches only what came since.
#pragma once

#include <set>
#include <string>

namespace tolmail::cli {

class SeenIds {
public:
    /// The store of `user` at `server`:`port`, under $XDG_STATE_HOME/tolmail (else
    /// ~/.local/state/tolmail); nothing is read yet.
    SeenIds(const std::string& server, long port, const std::string& user);

    /// Reads the ids saved by earlier runs (none when there is no file yet). False with
    /// why() when the file exists but cannot be read.
    bool load();
    bool seen(const std::string& id) const { return earlier_.count(id) != 0; }
    /// The server still holds the message of this id: an earlier run's id to keep.
    void stillAtServer(const std::string& id);
    /// A message of this id was saved whole in this run.
    void saved(const std::string& id) { kept_.insert(id); }
    /// Writes the ids still at the server and those saved now, replacing the file at once
    /// (a crash leaves the old file or the new one, never half of one). False with why().
    bool store();

    const std::string& path() const { return path_; }
    const std::string& why() const { return why_; }

private:
    std::string dir_, path_, why_;
    std::set<std::string> earlier_, kept_;
};

} // namespace tolmail::cli
