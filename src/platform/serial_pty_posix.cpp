#include "platform/serial_pty_posix.h"

#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "diag/console.h"
#include "platform/system_error_text_posix.h"

namespace p50x::platform {

namespace {
// The groups that own serial devices: Debian's and most others', then the
// older name some systems keep.
constexpr const char* kSerialGroups[] = {"dialout", "uucp"};

bool findGroup(const char* name, gid_t& gid) {
  std::vector<char> buffer(4096);
  group entry{};
  group* found = nullptr;
  while (::getgrnam_r(name, &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
         buffer.size() < 1024 * 1024) {
    buffer.resize(buffer.size() * 2);
  }
  if (found == nullptr) return false;
  gid = found->gr_gid;
  return true;
}

// Like a real serial device: owned by the serial devices' group, read and
// write for its members, so control software running as another user of that
// group (the service's own user, say) can open the link. Without such a group
// the terminal keeps its group.
void openToSerialGroup(int slave, const std::string& linkPath, Console& console) {
  for (const char* name : kSerialGroups) {
    gid_t gid = 0;
    if (!findGroup(name, gid)) continue;
    if (::fchown(slave, static_cast<uid_t>(-1), gid) != 0) {
      console.out("pty: " + linkPath + ": Gruppe " + name +
                  " nicht gesetzt: " + systemErrorText(errno) + ".\n");
    }
    break;
  }
  if (::fchmod(slave, 0660) != 0) {
    console.out("pty: " + linkPath + ": Rechte 0660 nicht gesetzt: " + systemErrorText(errno) +
                ".\n");
  }
}
}  // namespace

// Holding the slave open ourselves means the control software may close and
// reopen PATH without the master ever seeing a hang-up.
int PseudoTerminal::open(const std::string& linkPath, Console& console) {
  close();
  if (linkPath.empty()) return EINVAL;
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0) return errno;
  char slaveName[128] = {};
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
      ::ptsname_r(master, slaveName, sizeof slaveName) != 0) {
    const int error = errno;
    ::close(master);
    return error;
  }
  const int slave = ::open(slaveName, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0) {
    const int error = errno;
    ::close(master);
    return error;
  }
  openToSerialGroup(slave, linkPath, console);
  if (const int error = placeLink(slaveName, linkPath, console); error != 0) {
    ::close(slave);
    ::close(master);
    return error;
  }
  master_ = master;
  slave_ = slave;
  linkPath_ = linkPath;
  slaveName_ = slaveName;
  return 0;
}

void PseudoTerminal::close() {
  if (!linkPath_.empty()) {
    removeOwnLink();
    linkPath_.clear();
  }
  if (slave_ >= 0) ::close(slave_);
  slave_ = -1;
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

// A link left by an earlier run is replaced; anything else at PATH belongs
// to somebody else and is never touched.
int PseudoTerminal::placeLink(const char* target, const std::string& path, Console& console) {
  if (::symlink(target, path.c_str()) == 0) return 0;
  if (errno != EEXIST) return errno;
  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
    std::string line = "pty: ";
    line += path;
    line += " ist schon vorhanden und kein symbolischer Link; die Datei bleibt unverändert.\n";
    console.out(line);
    return EEXIST;
  }
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return errno;
  if (::symlink(target, path.c_str()) != 0) return errno;
  return 0;
}

void PseudoTerminal::removeOwnLink() {
  char target[128] = {};
  const ssize_t length = ::readlink(linkPath_.c_str(), target, sizeof target - 1);
  if (length < 0) return;
  // Somebody may have put their own link there meanwhile: leave that one.
  if (std::string_view(target, static_cast<std::size_t>(length)) == slaveName_) {
    ::unlink(linkPath_.c_str());
  }
}

}  // namespace p50x::platform
