#include "runner.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tessvin_e2e {

namespace {

void Check(bool ok, const std::string &what) {
  if (!ok) throw std::runtime_error(what + ": " + strerror(errno));
}

void WriteFile(const std::string &path, const std::vector<uint8_t> &bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char *>(bytes.data()), (std::streamsize)bytes.size());
  if (!f) throw std::runtime_error("cannot write " + path);
}

int RemoveEntry(const char *path, const struct stat *, int, struct FTW *) { return remove(path); }

// In the child: reports a failed setup step on standard error and ends.
[[noreturn]] void SetupFailed(const char *step) {
  dprintf(2, "namespace setup failed: %s: %s\n", step, strerror(errno));
  _exit(125);
}

// In the child: builds the namespace and starts tessvin. Never returns.
[[noreturn]] void StartInNamespace(const std::string &vars, const std::string &log_socket,
                                   const RunOptions &options, char *const argv[]) {
  if (unshare(CLONE_NEWNS) != 0) SetupFailed("unshare");
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) SetupFailed("make / private");
  if (mount("tmpfs", "/sys/firmware", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0) {
    // A kernel without /sys/firmware: cover the whole of /sys instead.
    if (errno != ENOENT || mount("tmpfs", "/sys", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0 ||
        mkdir("/sys/firmware", 0755) != 0)
      SetupFailed("tmpfs over /sys/firmware");
  }
  if (mkdir("/sys/firmware/efi", 0755) != 0 || mkdir("/sys/firmware/efi/vars", 0755) != 0)
    SetupFailed("mkdir /sys/firmware/efi/vars");
  if (mount(vars.c_str(), "/sys/firmware/efi/vars", nullptr, MS_BIND, nullptr) != 0)
    SetupFailed("bind /sys/firmware/efi/vars");
  for (const auto &b : options.binds)
    if (mount(b.first.c_str(), b.second.c_str(), nullptr, MS_BIND, nullptr) != 0)
      SetupFailed(b.second.c_str());
  if (mount("tmpfs", "/dev", "tmpfs", MS_NOSUID | MS_NOEXEC, "mode=0755") != 0)
    SetupFailed("tmpfs over /dev");
  int fd = open("/dev/log", O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) SetupFailed("create /dev/log");
  close(fd);
  if (mount(log_socket.c_str(), "/dev/log", nullptr, MS_BIND, nullptr) != 0)
    SetupFailed("bind /dev/log");
  if (options.file_size_limit >= 0) {
    struct rlimit limit = {(rlim_t)options.file_size_limit, (rlim_t)options.file_size_limit};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) SetupFailed("setrlimit");
  }
  execv(TESSVIN_PATH, argv);
  SetupFailed("exec " TESSVIN_PATH);
}

// "<PRI>Mmm dd hh:mm:ss TAG: TEXT" as the C library's syslog sends it.
LogEntry ParseLogRecord(const std::string &record) {
  LogEntry e{-1, "", record};
  size_t close = record.find('>');
  if (record.empty() || record[0] != '<' || close == std::string::npos) return e;
  e.priority = atoi(record.substr(1, close - 1).c_str());
  size_t colon = record.find(": ", close);
  if (colon == std::string::npos) return e;
  size_t space = record.rfind(' ', colon);
  size_t start = (space == std::string::npos || space < close) ? close + 1 : space + 1;
  e.tag = record.substr(start, colon - start);
  e.text = record.substr(colon + 2);
  return e;
}

void ReceiveLog(int fd, std::vector<LogEntry> *log) {
  char buf[65536];
  for (;;) {
    ssize_t n = recv(fd, buf, sizeof(buf), MSG_DONTWAIT);
    if (n < 0) return;
    log->push_back(ParseLogRecord(std::string(buf, (size_t)n)));
  }
}

}  // namespace

VarsDir::VarsDir() {
  char tmpl[] = "/tmp/tessvin-e2e.XXXXXX";
  Check(mkdtemp(tmpl) != nullptr, "mkdtemp");
  root_ = tmpl;
  vars_ = root_ + "/vars";
  Check(mkdir(vars_.c_str(), 0755) == 0, "mkdir vars");
  // The kernel's interface always has new_var.
  WriteFile(vars_ + "/new_var", {});
}

VarsDir::~VarsDir() { nftw(root_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS); }

void VarsDir::PutVariable(const std::string &name, const std::string &guid,
                          const std::vector<uint8_t> &raw) const {
  std::string dir = vars_ + "/" + name + "-" + guid;
  Check(mkdir(dir.c_str(), 0755) == 0, "mkdir " + dir);
  WriteFile(dir + "/raw_var", raw);
}

std::vector<uint8_t> VarsDir::Read(const std::string &relative) const {
  std::ifstream f(vars_ + "/" + relative, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + relative);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool VarsDir::Exists(const std::string &relative) const {
  struct stat st;
  return lstat((vars_ + "/" + relative).c_str(), &st) == 0;
}

std::vector<std::string> VarsDir::List() const {
  std::vector<std::string> names;
  DIR *d = opendir(vars_.c_str());
  Check(d != nullptr, "opendir");
  while (struct dirent *e = readdir(d))
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

RunResult VarsDir::Run(const std::vector<std::string> &args, const RunOptions &options) const {
  std::vector<std::string> words;
  words.push_back(options.argv0.empty() ? std::string(TESSVIN_PATH) : options.argv0);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (auto &w : words) argv.push_back(const_cast<char *>(w.c_str()));
  argv.push_back(nullptr);

  std::string log_socket = root_ + "/log";
  unlink(log_socket.c_str());
  int log_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  Check(log_fd >= 0, "socket");
  struct sockaddr_un addr;
  memset(&addr, 0, sizeof(addr));
  addr.sun_family = AF_UNIX;
  snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", log_socket.c_str());
  Check(bind(log_fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof(addr)) == 0, "bind log");

  int out[2], err[2];
  Check(pipe2(out, O_CLOEXEC) == 0 && pipe2(err, O_CLOEXEC) == 0, "pipe");
  fflush(nullptr);
  pid_t pid = fork();
  Check(pid >= 0, "fork");
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    StartInNamespace(vars_, log_socket, options, argv.data());
  }
  close(out[1]);
  close(err[1]);

  RunResult r{-1, "", "", {}};
  struct pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {log_fd, POLLIN, 0}};
  std::string *sinks[2] = {&r.out, &r.err};
  int open_pipes = 2;
  while (open_pipes > 0) {
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; i++) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[4096];
      ssize_t n = read(fds[i].fd, buf, sizeof(buf));
      if (n > 0) {
        sinks[i]->append(buf, (size_t)n);
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        open_pipes--;
      }
    }
    if (fds[2].revents != 0) ReceiveLog(log_fd, &r.log);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  ReceiveLog(log_fd, &r.log);
  close(log_fd);
  unlink(log_socket.c_str());
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  return r;
}

std::vector<uint8_t> Record(const std::string &name, const std::vector<uint8_t> &guid,
                            uint64_t data_size, const std::vector<uint8_t> &data, uint64_t status,
                            uint32_t attributes) {
  std::vector<uint8_t> r(2084, 0);
  for (size_t i = 0; i < name.size() && i < 511; i++) r[2 * i] = (uint8_t)name[i];
  std::copy(guid.begin(), guid.end(), r.begin() + 1024);
  for (int i = 0; i < 8; i++) r[1040 + i] = (uint8_t)(data_size >> (8 * i));
  std::copy(data.begin(), data.begin() + std::min<size_t>(data.size(), 1024), r.begin() + 1048);
  for (int i = 0; i < 8; i++) r[2072 + i] = (uint8_t)(status >> (8 * i));
  for (int i = 0; i < 4; i++) r[2080 + i] = (uint8_t)(attributes >> (8 * i));
  return r;
}

std::string Usage(const std::string &p) {
  return "\n"
         "Usage: " + p + " [OPTIONS]\n"
         " Without -s option, variable's value is printed. Guid, name and value type are always required.\n"
         " -h, --help         Print this help\n"
         " -v, --verbose      Print debug informations\n"
         " -g, --guid GUID    GUID of the variable. Format must be the same as in /sys/firmware/efi/vars\n"
         " -n, --varname      Name of the variable. Must not exceed 511 characters length.\n"
         " -s, --set VALUE    Set value to the specified variable\n"
         " -k, --keep-size    Only with --set. Do not change current variable size.\n"
         "                    New value must fit in the current size.\n"
         " -t, --value-type   Specify the type of value to set or get\n"
         "                    If not -k, the variable size will be changed to the type's size\n"
         "                    Available types are:\n"
         "                      - \"int\" : sizeof(int)\n"
         "                      - \"int16\" : sizeof(int16)\n"
         "                      - \"string\" : sizeof(char) * strlen(string)\n"
         " Note: if the variable does not exist " + p + " will create it as a non-volatile variable.\n"
         " Examples:\n"
         "  " + p + " -g 8be4df61-93ca-11d2-aa0d-00e098032b8c -n BootOrder -t int\n"
         "  " + p + " -g 8be4df61-93ca-11d2-aa0d-00e098032b8c -n BootOrder -t int -s 0x2 -k\n";
}

}  // namespace tessvin_e2e
