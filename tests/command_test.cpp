// The command run as a process, from a POSIX shell: exit status, standard error,
// standard output, and the file left behind with its metadata.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "gorvic/output_file.hpp"
#include "test_support.hpp"

namespace {

using namespace gorvic::test;

std::string quote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// Owner, group, mode, flags (chattr) and every extended attribute (ACLs among them) of a
// file.
std::string metadata(const fs::path& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return "missing";
  std::string text = std::to_string(status.st_uid) + ":" + std::to_string(status.st_gid) + " " +
                     std::to_string(status.st_mode & 07777);
  const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  int flags = 0;
  if (file >= 0 && ::ioctl(file, FS_IOC_GETFLAGS, &flags) == 0)
    text += " flags " + std::to_string(flags);
  if (file >= 0) ::close(file);
  std::vector<char> names(1 << 16);
  const ssize_t size = ::listxattr(path.c_str(), names.data(), names.size());
  std::map<std::string, std::string> attributes;
  for (ssize_t at = 0; at < size; at += static_cast<ssize_t>(std::string(&names[at]).size()) + 1) {
    std::vector<char> value(1 << 16);
    const ssize_t length = ::getxattr(path.c_str(), &names[at], value.data(), value.size());
    attributes[&names[at]] = length < 0 ? "?" : std::string(value.data(), length);
  }
  for (const auto& [name, value] : attributes) text += " " + name + "=" + value;
  return text;
}

class Command : public ScratchDir {
 protected:
  // A caller's shell leaves these signals at their defaults, and a shell cannot restore
  // a signal that was ignored when it started (as SIGINT is in a script's background
  // job, and so in a test run started from one): so the test process resets them.
  void SetUp() override {
    ScratchDir::SetUp();
    for (const int signal_number :
         {SIGPIPE, SIGXFSZ, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, SIGRTMIN + 1}) {
      std::signal(signal_number, SIG_DFL);
    }
  }
  void TearDown() override {
    unmount();
    if (!copy_.empty()) fs::remove_all(copy_.parent_path());
    ScratchDir::TearDown();
  }

  // Runs `script` under bash in the test's directory, where $GORVIC is the command and
  // $INTERPOSE the library that changes what it meets (interpose.c); returns the status
  // of the script's last command.
  Outcome shell(const std::string& script) const {
    // exec: no shell between this process and the script, to report how it ended.
    const std::string command =
        "cd " + quote(dir_.string()) + " && export GORVIC=" + quote(command_path()) +
        " INTERPOSE=" + quote(interpose_path()) + " SOURCE_DATE_EPOCH=" + kEpoch +
        " && exec bash -c " + quote(script) + " >" + quote(dir_.string() + "-stdout") + " 2>" +
        quote(dir_.string() + "-stderr");
    const int raw = std::system(command.c_str());
    // A signal that ended the script counts as a shell counts it: 128 and its number.
    Outcome o{WIFEXITED(raw)     ? WEXITSTATUS(raw)
              : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw)
                                 : -1,
              read_file(dir_.string() + "-stdout"), read_file(dir_.string() + "-stderr")};
    // What qemu-user says of a core-dumping signal is the emulator's, not the command's.
    static const std::regex kEmulatorNote("qemu: uncaught target signal [^\n]*\n");
    o.err = std::regex_replace(o.err, kEmulatorNote, "");
    fs::remove(dir_.string() + "-stdout");
    fs::remove(dir_.string() + "-stderr");
    return o;
  }

  // The names in the test's directory, hidden ones too.
  std::set<std::string> listing() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.insert(entry.path().filename());
    return names;
  }

  // Root may write anywhere: this runs a script as an ordinary user instead, with
  // $GORVIC (and $INTERPOSE) copies that such a user can reach, wherever the build lies.
  std::string as_user(const std::string& script) {
    if (copy_.empty()) {
      std::string folder = (fs::temp_directory_path() / "gorvic-bin-XXXXXX").string();
      EXPECT_NE(::mkdtemp(folder.data()), nullptr);
      copy_ = fs::path(folder) / "gorvic";
      fs::copy_file(GORVIC_EXE, copy_);
      if (*kInterpose) fs::copy_file(kInterpose, interpose_path());
      fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    }
    return "setpriv --reuid=65534 --regid=65534 --clear-groups bash -c " + quote(script);
  }

  // Whether this process has a mount namespace of its own: root may still be refused one
  // (a container that withholds the right to mount).
  static bool own_mount_namespace() {
    static const bool own = ::unshare(CLONE_NEWNS) == 0;
    return own;
  }
  // A tmpfs with `options` (as mount(8) takes them) over the test's directory, in the
  // process's own mount namespace, so that no mount outlives it; for "ext4", an ext4
  // image, sticky and writable by all as well.
  void mount_tmpfs(const std::string& options) {
    ASSERT_TRUE(own_mount_namespace());
    // Private, so that no mount reaches the machine's namespace. In a chroot, whose root
    // is no mount, the namespace around it must be private already (CI makes it so).
    static const bool private_mounts =
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 || errno == EINVAL;
    ASSERT_TRUE(private_mounts);
    if (options == "ext4") {
      const std::string image = quote(dir_.string() + ".ext4");
      ASSERT_EQ(
          shell("mkfs.ext4 -q -F " + image + " 8M && mount -o loop " + image + " " +
                quote(dir_.string()) + " && chmod 1777 " + quote(dir_.string()) + " && rm " + image)
              .status,
          0);
    } else {
      ASSERT_EQ(::mount("none", dir_.c_str(), "tmpfs", 0, options.c_str()), 0) << options;
    }
    mounted_ = true;
  }
  // From now on $GORVIC runs the command with `settings` of interpose.c (none: as it is),
  // through a script that gives them to the command alone: the build machine's own
  // programs (setpriv, cat) must not load a library built for another processor.
  void meet(const std::string& settings) {
    wrapper_.clear();
    if (settings.empty()) return;
    as_user("");  // the copies, which any user can reach
    const fs::path wrapper = copy_.parent_path() / "gorvic-interposed";
    std::ofstream(wrapper) << "#!/bin/sh\nLD_PRELOAD=" << quote(interpose_path())
                           << " ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}"
                              "verify_asan_link_order=0\" "
                           << settings << " exec " << quote(copy_.string()) << " \"$@\"\n";
    fs::permissions(wrapper, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
    wrapper_ = wrapper;
  }

  // Undoes mount_tmpfs(), with whatever a script mounted on the file in it.
  void unmount() {
    if (!mounted_) return;
    ::umount2((dir_ / "out.net").c_str(), MNT_DETACH);
    ::umount2(dir_.c_str(), MNT_DETACH);
    mounted_ = false;
  }

 private:
  std::string command_path() const {
    return !wrapper_.empty() ? wrapper_.string() : copy_.empty() ? GORVIC_EXE : copy_.string();
  }
  std::string interpose_path() const {
    return copy_.empty() || !*kInterpose ? kInterpose
                                         : (copy_.parent_path() / "libinterpose.so").string();
  }

#ifdef GORVIC_INTERPOSE
  static constexpr const char* kInterpose = GORVIC_INTERPOSE;
#else
  static constexpr const char* kInterpose = "";
#endif
  fs::path copy_;
  fs::path wrapper_;
  bool mounted_ = false;
};

// A netlist without its "# By Command" line, which holds the path the command was run by.
std::string without_command(std::string text) {
  const auto at = text.find("# By Command ");
  if (at != std::string::npos) text.erase(at, text.find('\n', at) + 1 - at);
  return text;
}

// The variables that make the command meet `settings` (interpose.c says which there are).
std::string meeting(const std::string& settings) {
  return "LD_PRELOAD=\"$INTERPOSE\" ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}"
         "verify_asan_link_order=0\" " +
         settings;
}

#ifdef GORVIC_INTERPOSE
// The command on a file system without unnamed files (NFS): it writes a hidden file beside
// the target, which a signal handler must remove.
const std::string kNamed = "env " + meeting("GORVIC_TEST_NO_TMPFILE=1") + " ";
#endif

// Sends `signal` to the command once it has written a megabyte to `target` (and done
// `meanwhile`), under a file-size limit in case the signal never comes. The script
// becomes the command, run through `through`, so $$ is the command's.
std::string interrupted_by(const std::string& signal, const std::string& through = "",
                           const std::string& meanwhile = "",
                           const std::string& target = "out.net") {
  return "ulimit -f 1000000 -c 0; (while w=$(sed -n 's/^wchar: //p' /proc/$$/io 2>/dev/null) &&"
         " [ \"${w:-0}\" -lt 1000000 ]; do sleep 0.01; done; " +
         meanwhile + " kill -" + signal + " $$ 2>/dev/null) & exec " + through + "\"$GORVIC\" " +
         target + " 2147483647 in";
}

TEST_F(Command, WritesTheNetlistAndPrintsNothing) {
  const Outcome o = shell("exec -a gen \"$GORVIC\" chain.net 100 anything");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(read_file(path("chain.net")), read_file(GORVIC_TEST_DATA "/chain-100.net"));
}

TEST_F(Command, CopiesAnyCommandNameVerbatim) {
  const std::string name = "my gen %s %n 100% \xc3\xa9\xff";
  const Outcome o = shell("exec -a " + quote(name) + " \"$GORVIC\" chain.net 1 in");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(read_file(path("chain.net")).find("\n# By Command " + name + "\n\n"),
            std::string::npos);

  const Outcome wrong = shell("exec -a " + quote(name) + " \"$GORVIC\"");
  EXPECT_EQ(wrong.status, 1);
  EXPECT_EQ(wrong.err,
            "\nZARN Generator Error: (gorvic[Version 2.0])\n Receiving 0 parameter\n"
            " Usage:  " +
                name + " output_file constant_number in_node\n\n");
}

TEST_F(Command, FailsWithADiagnosticAndLeavesTheTargetAsItWas) {
  const std::string close = kError + " Can't close output generator file <out.net>\n";
  // A path of 4090 bytes: a longer name beside the target would pass PATH_MAX.
  std::string long_path = "L";
  while (long_path.size() + 251 + 8 <= 4090) long_path += "/" + std::string(250, 'd');
  long_path += "/" + std::string(4090 - 8 - long_path.size() - 1, 'e') + "/out.net";
  const struct {
    std::string script;
    int status;
    std::string err;
  } cases[] = {
      {"exec -a gen \"$GORVIC\" out.net 3", 1,
       "\nZARN Generator Error: (gorvic[Version 2.0])\n Receiving 2 parameters\n"
       "     ->  argv[1] = 'out.net'\n     ->  argv[2] = '3'\n"
       " Usage:  gen output_file constant_number in_node\n\n"},
      {"\"$GORVIC\" out.net abc in", 1,
       kError + " <abc>, the number of delayed integrators, is not a positive integer\n"},
      {"\"$GORVIC\" out.net -3 in", 1,
       kError + " <-3>, the number of delayed integrators, is not a positive integer\n"},
      {"\"$GORVIC\" no/such/dir/out.net 3 in", 1,
       kError + " Can't open output file <\"no/such/dir/out.net\">\n"},
      {"\"$GORVIC\" . 3 in", 1, kError + " Can't open output file <\".\">\n"},
      {"\"$GORVIC\" /dev/full 3 in", 1,
       kError + " Can't close output generator file </dev/full>\n"},
      {"SOURCE_DATE_EPOCH=12x \"$GORVIC\" out.net 3 in", 1,
       kError + " SOURCE_DATE_EPOCH <12x> is not a decimal count of seconds\n"},
      {"ulimit -f 64; \"$GORVIC\" out.net 1000000 in", 1, close},
      // Where no name fits beside the target, the target is still never written in place.
      {"mkdir -p " + long_path.substr(0, long_path.size() - 8) +
           " && { [ ! -e out.net ] || mv out.net " + long_path + "; }; ulimit -f 64; \"$GORVIC\" " +
           long_path + " 1000000 in; s=$?; { [ ! -e " + long_path + " ] || mv " + long_path +
           " .; }; rm -r L; exit $s",
       1, kError + " Can't close output generator file <" + long_path + ">\n"},
      // Any signal, even one that cannot be caught, leaves nothing behind.
      {interrupted_by("INT"), 130, ""},
      {interrupted_by("TERM"), 143, ""},
      {interrupted_by("KILL"), 128 + SIGKILL, ""},
      {interrupted_by("QUIT"), 128 + SIGQUIT, ""},
      // Also through a link into /proc/self/cwd, which names the directory, not a file.
      {"ln -sfn /proc/self/cwd/out.net \"$PWD-link\" && " +
           interrupted_by("TERM", "", "", "\"$PWD-link\""),
       143, ""},
      // A descriptor that cannot be written is refused before anything is written.
      {"\"$GORVIC\" /dev/fd/5 3 in 5</dev/null", 1,
       kError + " Can't open output file <\"/dev/fd/5\">\n"},
      {"\"$GORVIC\" /dev/stdout 3 in >&-", 1,
       kError + " Can't open output file <\"/dev/stdout\">\n"},
      // A link that the kernel would not follow to a file is not followed either.
      {"echo keep >x && ln -s missing/../x link && { \"$GORVIC\" link 3 in; s=$?;"
       " [ \"$(cat x)\" = keep ] || s=99; rm x link; exit $s; }",
       1, kError + " Can't open output file <\"link\">\n"},
      {"ln -s missing/../x link && { \"$GORVIC\" link 3 in; s=$?;"
       " [ ! -e x ] || { s=99; rm x; }; rm link; exit $s; }",
       1, kError + " Can't open output file <\"link\">\n"},
      {"ln -s newdir/ link && { \"$GORVIC\" link 3 in; s=$?;"
       " [ ! -e newdir ] || { s=99; rm newdir; }; rm link; exit $s; }",
       1, kError + " Can't open output file <\"link\">\n"},
#ifdef GORVIC_INTERPOSE
      // A signal that comes once the netlist is written stops the run before the rename.
      {meeting("GORVIC_TEST_SIGNAL_PENDING=2") + " exec \"$GORVIC\" out.net 3 in", 130, ""},
      // Without unnamed files, the hidden file is removed by every signal that ends the
      // process, also after its directory was renamed.
      {interrupted_by("USR1", kNamed), 128 + SIGUSR1, ""},
      {interrupted_by("ALRM", kNamed), 128 + SIGALRM, ""},
#ifndef GORVIC_TEST_UNDER_QEMU
      {interrupted_by("RTMIN+1", kNamed), 128 + SIGRTMIN + 1, ""},
#endif
      {interrupted_by("TERM", kNamed, "mv \"$PWD\" \"$PWD-moved\";", "\"$PWD/out.net\""), 143, ""},
#endif
  };
  for (const bool existing : {false, true}) {
    for (const auto& c : cases) {
      if (existing) std::ofstream(path("out.net")) << "precious\n";
      const Outcome o = shell(c.script);
      if (fs::exists(dir_.string() + "-moved")) fs::rename(dir_.string() + "-moved", dir_);
      fs::remove(dir_.string() + "-link");
      EXPECT_EQ(o.status, c.status) << c.script;
      EXPECT_EQ(o.out, "") << c.script;
      EXPECT_EQ(o.err, c.err) << c.script;
      if (existing) {
        EXPECT_EQ(read_file(path("out.net")), "precious\n") << c.script;
        EXPECT_EQ(listing(), std::set<std::string>{"out.net"}) << c.script;
      } else {
        EXPECT_EQ(listing(), std::set<std::string>{}) << c.script;
      }
    }
  }
}

TEST_F(Command, WritesThroughWhatThePathNames) {
  const std::string netlist = read_file(GORVIC_TEST_DATA "/chain-100.net");
  const std::string longest(255, 'n');
  const struct {
    std::string script;
    std::string out;
    std::string file;    // what holds the netlist afterwards
    std::string before;  // and what stands in it before the netlist
  } cases[] = {
      // A replaced file keeps its mode and loses its longer old text.
      {"yes old | head -c 20000 >old.net && chmod 0640 old.net && umask 077 &&"
       " gen old.net && stat -c %a old.net",
       "640\n", "old.net", ""},
      {"umask 027 && gen new.net && stat -c %a new.net", "640\n", "new.net", ""},
      {"echo old >real.net && ln -s real.net link.net && gen link.net && readlink link.net",
       "real.net\n", "real.net", ""},
      {"ln -s dangling.net dangling-link.net && gen dangling-link.net &&"
       " readlink dangling-link.net",
       "dangling.net\n", "dangling.net", ""},
      {"gen " + longest, "", longest, ""},
      {"mkfifo fifo && { cat fifo >from-fifo.net & gen fifo; wait; }", "", "from-fifo.net", ""},
      // Standard output as the shell set it up: appended to, not truncated.
      {"echo first >log.txt && gen /dev/stdout >>log.txt", "", "log.txt", "first\n"},
      {"echo first >log2.txt && gen /dev/fd/3 3>>log2.txt", "", "log2.txt", "first\n"},
      // So does any other spelling of such a name, and a link to one.
      {"echo first >log3.txt && gen /dev/./stdout >>log3.txt", "", "log3.txt", "first\n"},
      {"echo first >log4.txt && gen //dev/stdout >>log4.txt", "", "log4.txt", "first\n"},
      {"echo first >log5.txt && gen /proc/thread-self/fd/1 >>log5.txt", "", "log5.txt", "first\n"},
      {"echo first >log6.txt && ln -s /dev/stdout out-link && gen out-link >>log6.txt", "",
       "log6.txt", "first\n"},
#ifdef GORVIC_INTERPOSE
      // A signal that the caller blocked, or ignores, stops nothing when it comes.
      {"GORVIC_TEST_BLOCKED=15 GORVIC_TEST_SIGNAL_PENDING=15 " + meeting("") + " gen held.net", "",
       "held.net", ""},
      {"trap '' TERM; GORVIC_TEST_SIGNAL_PENDING=15 " + meeting("") + " gen ignored.net", "",
       "ignored.net", ""},
#endif
      // A deleted file is written through its descriptor, not made anew under its old name.
      {"exec 5>gone.net && echo first >&5 && rm gone.net && gen /dev/./fd/5 &&"
       " cat /dev/fd/5 >kept.net && ! ls gone*",
       "", "kept.net", "first\n"},
  };
  for (const auto& c : cases) {
    const Outcome o = shell("gen() { (exec -a gen \"$GORVIC\" \"$1\" 100 in); }; " + c.script);
    EXPECT_EQ(o.status, 0) << c.script << o.err;
    EXPECT_EQ(o.out, c.out) << c.script;
    EXPECT_EQ(read_file(dir_ / c.file), c.before + netlist) << c.script;
    for (const std::string& name : listing()) EXPECT_NE(name[0], '.') << c.script;
  }
}

TEST_F(Command, LeavesAnExistingFileAloneOnABadNumber) {
  for (const char* number : {"0", "08", "-0x5", "''", "x"}) {
    std::ofstream(path("keep.net")) << "precious\n";
    const Outcome o = shell(std::string("\"$GORVIC\" keep.net ") + number + " in");
    EXPECT_EQ(o.status, 1) << number;
    EXPECT_EQ(read_file(path("keep.net")), "precious\n") << number;
  }
}

TEST_F(Command, StopsPromptlyWhenThePipeReaderHasGone) {
  // Without the stop at the first failed write this would write 100 GB into the pipe.
  const Outcome o = shell(
      "\"$GORVIC\" /dev/stdout 2147483647 in | head -c 100 >/dev/null;"
      " exit ${PIPESTATUS[0]}");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, kError + " Can't close output generator file </dev/stdout>\n");
}

// Linux caps one argument at 128 KiB (MAX_ARG_STRLEN, terminator included): the
// largest argument that can reach the command at all.
constexpr std::size_t kHuge = (1u << 17) - 1;

TEST_F(Command, TakesAHugeArgumentInEveryPosition) {
  const std::string huge = "$(head -c " + std::to_string(kHuge) + " /dev/zero | tr '\\0' a)";
  const Outcome name = shell("\"$GORVIC\" \"" + huge + "\" 3 in");
  EXPECT_EQ(name.status, 1);
  EXPECT_EQ(name.err, kError + " Can't open output file <\"" + std::string(kHuge, 'a') + "\">\n");
  const Outcome number = shell("\"$GORVIC\" out.net \"" + huge + "\" in");
  EXPECT_EQ(number.status, 1);
  EXPECT_EQ(number.err, kError + " <" + std::string(kHuge, 'a') +
                            ">, the number of delayed integrators, is not a positive integer\n");
  const Outcome node = shell("\"$GORVIC\" out.net 3 \"" + huge + "\"");
  EXPECT_EQ(node.status, 0) << node.err;
  const Outcome command = shell("exec -a \"" + huge + "\" \"$GORVIC\" out.net 3 in");
  EXPECT_EQ(command.status, 0) << command.err;
  EXPECT_NE(read_file(path("out.net")).find("# By Command " + std::string(kHuge, 'a') + "\n"),
            std::string::npos);
}

TEST_F(Command, WritesInPlaceOnlyInADirectoryWithoutWritePermission) {
  fs::create_directories(path("locked"));
  std::ofstream(path("locked/old.net")) << std::string(20000, 'x');
  fs::permissions(path("locked/old.net"), fs::perms::all & ~fs::perms::owner_exec &
                                              ~fs::perms::group_exec & ~fs::perms::others_exec);
  fs::permissions(path("locked"), fs::perms::owner_read | fs::perms::owner_exec |
                                      fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
  const auto run = [this](const std::string& script) {
    return shell(geteuid() == 0 ? as_user(script) : script);
  };
  const Outcome refused = run("\"$GORVIC\" locked/out.net 3 in");
  // A writable file there is written in place, as nothing new can stand beside it.
  const Outcome in_place = run("\"$GORVIC\" locked/old.net 100 in");
  fs::permissions(path("locked"), fs::perms::owner_all);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, kError + " Can't open output file <\"locked/out.net\">\n");
  EXPECT_FALSE(fs::exists(path("locked/out.net")));
  EXPECT_EQ(in_place.status, 0) << in_place.err;
  EXPECT_EQ(shell("\"$GORVIC\" fresh.net 100 in").status, 0);
  EXPECT_EQ(read_file(path("locked/old.net")), read_file(path("fresh.net")));
}

// What setfattr and setfacl would do, without them (a minimal root has neither): an
// extended attribute, and an ACL that lets nobody write (u::rw,u:nobody:rw,g::r,m::rw,o::-),
// in the little-endian form the kernel takes.
void tag_and_share(const fs::path& file) {
  ASSERT_EQ(::setxattr(file.c_str(), "user.tag", "1", 1, 0), 0);
  std::string acl;
  const auto put = [&acl](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i, value >>= 8) acl += static_cast<char>(value & 0xff);
  };
  put(2, 4);  // the version
  const std::uint32_t nobody = 65534;
  const std::uint32_t undefined = 0xffffffff;
  for (const auto& [tag, permissions, id] : {std::tuple{0x01u, 6u, undefined},
                                             {0x02u, 6u, nobody},
                                             {0x04u, 4u, undefined},
                                             {0x10u, 6u, undefined},
                                             {0x20u, 0u, undefined}}) {
    put(tag, 2);
    put(permissions, 2);
    put(id, 4);
  }
  ASSERT_EQ(::setxattr(file.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0), 0);
}

// What chattr would do: adds `flags` (FS_*_FL) to a file's or a directory's.
void add_flags(const fs::path& file, int flags) {
  const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(descriptor, 0) << file;
  int now = 0;
  const bool done = ::ioctl(descriptor, FS_IOC_GETFLAGS, &now) == 0 &&
                    (now |= flags, ::ioctl(descriptor, FS_IOC_SETFLAGS, &now) == 0);
  ::close(descriptor);
  ASSERT_TRUE(done) << file;
}
void no_dump_no_atime(const fs::path& file) {
  add_flags(file, FS_NODUMP_FL | FS_NOATIME_FL);
}
// DAX (chattr +x): a flag beyond those of the first ext2 that a new file may also take
// from its directory.
void dax(const fs::path& file) {
  add_flags(file, FS_DAX_FL);
}
void dax_directory(const fs::path& file) {
  add_flags(file.parent_path(), FS_DAX_FL);
}
void append_only(const fs::path& file) {
  add_flags(file, FS_APPEND_FL);
}
void append_only_directory(const fs::path& file) {
  add_flags(file.parent_path(), FS_APPEND_FL);
}

// A file capability (cap_net_raw, effective), as setcap would give it.
void give_a_capability(const fs::path& file) {
  const unsigned char capability[20] = {0x01, 0x00, 0x00, 0x02, 0x00, 0x20};
  ASSERT_EQ(::setxattr(file.c_str(), "security.capability", capability, sizeof capability, 0), 0);
}

// Sets a file under /proc/sys for the life of this object.
class KernelSetting {
 public:
  KernelSetting(const char* name, const char* value)
      : path_(std::string("/proc/sys/") + name), saved_(read_file(path_)) {
    std::ofstream(path_) << value;
  }
  ~KernelSetting() { std::ofstream(path_) << saved_; }
  KernelSetting(const KernelSetting&) = delete;
  KernelSetting& operator=(const KernelSetting&) = delete;

 private:
  std::string path_;
  std::string saved_;
};

// Where the system guards the target (no room, a mount, an attribute, another owner, the
// kernel's link and file protections), it is replaced by an identical file, written in
// place, or left as it was: never cut short, never with its owner, mode, flags, ACL or
// attributes changed. Each row runs on a tmpfs of its own (sticky and writable by all, as
// /tmp), as the machine is and as older kernels and NFS would have it. Root only, as CI is.
TEST_F(Command, KeepsTheTargetAndWhatGuardsIt) {
  if (geteuid() != 0 || !own_mount_namespace()) {
    GTEST_SKIP() << "mounts, a second user and sysctls need root, with the right to mount";
  }
  // On for this test, as most distributions have them.
  const KernelSetting protected_symlinks("fs/protected_symlinks", "1");
  const KernelSetting protected_regular("fs/protected_regular", "1");
  const std::string netlist = read_file(GORVIC_TEST_DATA "/chain-100.net");
  const std::string open = kError + " Can't open output file <\"out.net\">\n";
  const std::string close = kError + " Can't close output generator file <out.net>\n";
  const std::string gen = "\"$GORVIC\" out.net 100 in";
  const std::string as_nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  const struct {
    std::string tmpfs;  // its mount options
    std::string setup;  // run first, as root, on a file "precious"; then `prepare`
    std::string script;
    int status;
    std::string err;
    bool replaced;  // the target holds the netlist afterwards, else "precious"
    std::set<std::string> listing;
    void (*prepare)(const fs::path&) = nullptr;  // after the setup
  } cases[] = {
      // No inode for a new file: it is not written in place instead.
      {"size=2m,nr_inodes=2", "", "\"$GORVIC\" out.net 100000 in", 1, open, false, {"out.net"}},
      // Full, with standard error on the same file system: the new file goes first.
      {"size=1m",
       "",
       "\"$GORVIC\" out.net 100000 in 2>err.log; s=$?; cat err.log >&2; exit $s",
       1,
       close,
       false,
       {"out.net", "err.log"}},
      // What makes the file what it is goes with the replacement, also what writing it
      // takes away (set-ID bits, file capabilities).
      {"size=4m", "chmod 0640 out.net", gen, 0, "", true, {"out.net"}, tag_and_share},
      {"size=4m", "", gen, 0, "", true, {"out.net"}, no_dump_no_atime},
      {"ext4", "", gen, 0, "", true, {"out.net", "lost+found"}, dax},
      {"ext4", "", gen, 0, "", true, {"out.net", "lost+found"}, dax_directory},
      {"size=4m", "chmod 0755 out.net", gen, 0, "", true, {"out.net"}, give_a_capability},
      {"size=4m",
       "chown 65534:65534 out.net && chmod 4755 out.net",
       as_user(gen),
       0,
       "",
       true,
       {"out.net"}},
      // What cannot be renamed over is written in place: a bind mount, a name in an
      // append-only directory, another user's file in a sticky directory.
      {"size=4m",
       "echo other >source && mount --bind source out.net",
       gen,
       0,
       "",
       true,
       {"out.net", "source"}},
      {"size=4m", "", gen, 0, "", true, {"out.net"}, append_only_directory},
      {"size=4m", "chmod 0666 out.net", as_user(gen), 0, "", true, {"out.net"}},
      // What the kernel refuses is refused before anything is written: an append-only
      // file, another user's file or link in a sticky directory (fs.protected_regular,
      // fs.protected_symlinks).
      {"size=4m", "", gen, 1, open, false, {"out.net"}, append_only},
      {"size=4m", "chown 65534:65534 out.net", gen, 1, open, false, {"out.net"}},
      {"size=4m",
       as_nobody + "ln -s out.net link.net",
       "\"$GORVIC\" link.net 3 in",
       1,
       kError + " Can't open output file <\"link.net\">\n",
       false,
       {"out.net", "link.net"}},
  };
  // The ext4 rows need e2fsprogs, which a minimal root lacks.
  const bool has_mkfs_ext4 = shell("command -v mkfs.ext4").status == 0;
  if (!has_mkfs_ext4) std::cout << "without mkfs.ext4: the ext4 rows are left out\n";
  // As it is, then as on NFS, on a 3.10 kernel (RHEL 7) and on a 4.18 one (RHEL 8).
  std::vector<std::string> ways = {""};
#ifdef GORVIC_INTERPOSE
  ways.insert(ways.end(),
              {"GORVIC_TEST_NO_TMPFILE=1", "GORVIC_TEST_KERNEL=3.10", "GORVIC_TEST_KERNEL=4.18"});
#endif
  for (const std::string& way : ways) {
    meet(way);
    for (const auto& c : cases) {
      if (c.tmpfs == "ext4" && !has_mkfs_ext4) continue;
      ASSERT_NO_FATAL_FAILURE(mount_tmpfs(c.tmpfs));
      std::ofstream(path("out.net")) << "precious\n";
      ASSERT_EQ(shell(c.setup).status, 0) << c.setup;
      if (c.prepare) c.prepare(path("out.net"));
      const std::string before = metadata(path("out.net"));
      const Outcome o = shell(c.script);
      const std::string row = "[" + way + "] [" + c.setup + "] " + c.script;
      EXPECT_EQ(o.status, c.status) << row;
      EXPECT_EQ(o.err, c.err) << row;
      EXPECT_EQ(without_command(read_file(path("out.net"))),
                c.replaced ? without_command(netlist) : "precious\n")
          << row;
      EXPECT_EQ(metadata(path("out.net")), before) << row;
      EXPECT_EQ(listing(), c.listing) << row;
      unmount();
    }
  }
}

// A standard descriptor that the caller closed is taken by /dev/null, not by the first
// file of the run, which a diagnostic would then be written into.
TEST(StandardDescriptors, AreReservedWhenClosed) {
  const int saved = ::dup(2);
  ::close(2);
  gorvic::reserve_standard_descriptors();
  struct stat status {};
  const bool taken = ::fstat(2, &status) == 0;
  ::dup2(saved, 2);
  ::close(saved);
  ASSERT_TRUE(taken);
  EXPECT_TRUE(S_ISCHR(status.st_mode));
}

// However little memory the process may have, it ends with the netlist written or with a
// diagnostic, the target as it was and nothing beside it: never by an abort.
TEST_F(Command, FailsCleanlyForWantOfMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
#elif defined(GORVIC_TEST_UNDER_QEMU)
  GTEST_SKIP() << "qemu-user itself cannot run under a limit that leaves the command short";
#else
  const std::string netlist_start = "cell_interface  $out  $dummy  $in\n";
  int short_of_memory = 0;
  for (int kib = 2000; kib <= 20000; kib += 100) {
    std::ofstream(path("out.net")) << "precious\n";
    const Outcome o = shell("ulimit -v " + std::to_string(kib) + "; \"$GORVIC\" out.net 100000 in");
    if (o.status == 127) continue;  // too little even to load the program
    const std::string text = read_file(path("out.net"));
    if (o.status == 0) {
      EXPECT_EQ(text.substr(0, netlist_start.size()), netlist_start) << kib;
      continue;
    }
    ++short_of_memory;
    EXPECT_EQ(o.status, 1) << kib;
    EXPECT_EQ(o.err, kError + " Out of memory\n") << kib;
    EXPECT_EQ(text, "precious\n") << kib;
    EXPECT_EQ(listing(), std::set<std::string>{"out.net"}) << kib;
  }
  EXPECT_GT(short_of_memory, 0) << "no limit was tight enough to try";
#endif
}

}  // namespace
