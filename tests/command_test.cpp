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
#include <future>
#include <map>
#include <regex>
#include <set>
#include <string>
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

// Owner, group, mode, flags (chattr), project and every extended attribute (ACLs among
// them) of a file, but the attribute `left_out`.
std::string metadata(const fs::path& path, const std::string& left_out = "") {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return "missing";
  std::string text = std::to_string(status.st_uid) + ":" + std::to_string(status.st_gid) + " " +
                     std::to_string(status.st_mode & 07777);
  const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  int flags = 0;
  if (file >= 0 && ::ioctl(file, FS_IOC_GETFLAGS, &flags) == 0)
    text += " flags " + std::to_string(flags);
  fsxattr project{};
  if (file >= 0 && ::ioctl(file, FS_IOC_FSGETXATTR, &project) == 0)
    text += " project " + std::to_string(project.fsx_projid);
  if (file >= 0) ::close(file);
  std::vector<char> names(1 << 16);
  const ssize_t size = ::listxattr(path.c_str(), names.data(), names.size());
  std::map<std::string, std::string> attributes;
  for (ssize_t at = 0; at < size; at += static_cast<ssize_t>(std::string(&names[at]).size()) + 1) {
    std::vector<char> value(1 << 16);
    const ssize_t length = ::getxattr(path.c_str(), &names[at], value.data(), value.size());
    attributes[&names[at]] = length < 0 ? "?" : std::string(value.data(), length);
  }
  attributes.erase(left_out);
  for (const auto& [name, value] : attributes) text += " " + name + "=" + value;
  return text;
}

// The variables that make the command meet `settings` (interpose.c says which there are).
std::string meeting(const std::string& settings) {
  return "LD_PRELOAD=\"$INTERPOSE\" ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}"
         "verify_asan_link_order=0\" " +
         settings;
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
  // process's own mount namespace, so that no mount outlives it; for "ext4" or "xfs", an
  // image of that file system, sticky and writable by all as well.
  void mount_tmpfs(const std::string& options) {
    ASSERT_TRUE(own_mount_namespace());
    // Private, so that no mount reaches the machine's namespace. In a chroot, whose root
    // is no mount, the namespace around it must be private already (CI makes it so).
    static const bool private_mounts =
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 || errno == EINVAL;
    ASSERT_TRUE(private_mounts);
    if (options == "ext4" || options == "xfs") {
      const std::string image = quote(dir_.string() + ".image");
      ASSERT_EQ(shell("truncate -s " + std::string(options == "xfs" ? "300M " : "8M ") + image +
                      " && mkfs." + options + " -q " + (options == "xfs" ? "-f " : "-F ") + image +
                      " && mount -o loop " + image + " " + quote(dir_.string()) +
                      " && chmod 1777 " + quote(dir_.string()) + " && rm " + image)
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
    std::ofstream(wrapper) << "#!/bin/sh\nINTERPOSE=" << quote(interpose_path()) << " "
                           << meeting(settings) << " exec " << quote(copy_.string()) << " \"$@\"\n";
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

#ifdef GORVIC_INTERPOSE
// The command on a file system without unnamed files (NFS): it writes a hidden file beside
// the target, which a signal handler must remove.
const std::string kNamed = "env " + meeting("GORVIC_TEST_TMPFILE_ERROR=95") + " ";
#endif

// What follows runs with an empty /proc where root may mount one (the sanitizers and
// qemu-user need the real one themselves).
#if defined(__SANITIZE_ADDRESS__) || defined(GORVIC_TEST_UNDER_QEMU)
const std::string kWithoutProc;
#else
// Private first, so that nothing reaches the machine's /proc, also in a chroot.
const std::string kWithoutProc = ::geteuid() == 0 ? "unshare -m --propagation unchanged sh -c"
                                                    " 'mount --make-private /proc && mount -t"
                                                    " tmpfs none /proc && exec \"$@\"' sh "
                                                  : "";
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
      // The largest argument that Linux passes (MAX_ARG_STRLEN, 128 KiB) comes through whole.
      {"\"$GORVIC\" \"$(head -c 131071 /dev/zero | tr '\\0' a)\" 3 in", 1,
       kError + " Can't open output file <\"" + std::string(131071, 'a') + "\">\n"},
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
      // Root names an unnamed file without /proc too.
      {interrupted_by("KILL", kWithoutProc), 128 + SIGKILL, ""},
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
      // Without unnamed files, the hidden file is removed by every signal that ends the
      // process, also after its directory was renamed.
      {interrupted_by("USR1", kNamed), 128 + SIGUSR1, ""},
      {interrupted_by("ALRM", kNamed), 128 + SIGALRM, ""},
      {interrupted_by("QUIT", kNamed), 128 + SIGQUIT, ""},
#ifndef GORVIC_TEST_UNDER_QEMU
      {interrupted_by("RTMIN+1", kNamed), 128 + SIGRTMIN + 1, ""},
#endif
      {interrupted_by("TERM", kNamed, "mv \"$PWD\" \"$PWD-moved\";", "\"$PWD/out.net\""), 143, ""},
      // A signal that comes once the netlist is written, while the command waits for the
      // disk, stops the run at once, before the rename.
      {"echo precious >slow.net && " + meeting("GORVIC_TEST_AT_WRITEBACK='kill $PPID'") +
           " \"$GORVIC\" slow.net 3 in | cat; s=${PIPESTATUS[0]}; grep -qx precious slow.net || "
           "s=99;"
           " rm slow.net; exit $s",
       143, ""},
      // Until the rename the name must hold the file it held, with its owner, group, mode
      // and attributes: changed meanwhile, it stays as the change left it.
      {"echo precious >m.net && " + meeting("GORVIC_TEST_AT_WRITEBACK='chmod 600 m.net'") +
           " \"$GORVIC\" m.net 3 in; s=$?; [ $(stat -c %a m.net) = 600 ] && grep -qx precious"
           " m.net || s=99; rm m.net; exit $s",
       1, kError + " Can't close output generator file <m.net>\n"},
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
      {"echo old >held.net && GORVIC_TEST_BLOCKED=15 GORVIC_TEST_AT_WRITEBACK='kill $PPID' " +
           meeting("") + " gen held.net",
       "", "held.net", ""},
      {"echo old >ignored.net && trap '' TERM; GORVIC_TEST_AT_WRITEBACK='kill $PPID' " +
           meeting("") + " gen ignored.net",
       "", "ignored.net", ""},
      // A directory that takes no new file (EPERM) has the file written in place.
      {"echo old >perm.net && ls -i perm.net >inode && GORVIC_TEST_CREATE_ERROR=1 " + meeting("") +
           " gen perm.net && ls -i perm.net | cmp - inode && rm inode",
       "", "perm.net", ""},
      // A hidden name that is taken already is neither written into nor renamed.
      {"echo theirs >.taken.net.000000 && echo old >taken.net && GORVIC_TEST_FIRST_RANDOM=0 "
       "GORVIC_TEST_TMPFILE_ERROR=95 " +
           meeting("") + " gen taken.net && grep -qx theirs .taken.net.000000 && rm .taken*",
       "", "taken.net", ""},
#endif
      // A deleted file is written through its descriptor, not made anew under its old name.
      {"exec 5>gone.net && echo first >&5 && rm gone.net && gen /dev/./fd/5 &&"
       " cat /dev/fd/5 >kept.net && ! ls gone* 2>/dev/null",
       "", "kept.net", "first\n"},
  };
  for (const auto& c : cases) {
    const Outcome o = shell("gen() { (exec -a gen \"$GORVIC\" \"$1\" 100 in); }; " + c.script);
    EXPECT_EQ(o.status, 0) << c.script << o.err;
    EXPECT_EQ(o.out, c.out) << c.script;
    EXPECT_EQ(o.err, "") << c.script;
    EXPECT_EQ(read_file(dir_ / c.file), c.before + netlist) << c.script;
    for (const std::string& name : listing()) EXPECT_NE(name[0], '.') << c.script;
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

// A directory swapped for a link to another while the command runs (here while it waits
// on a lease of the target, which any open breaks) never has the netlist, or the owner and
// mode of the file it found, moved into the other directory.
TEST_F(Command, StaysInTheDirectoryItFoundWhenThatIsSwapped) {
  ASSERT_EQ(shell("mkdir mine other && echo precious >mine/out.net").status, 0);
  const int leased = ::open(path("mine/out.net").c_str(), O_RDONLY | O_CLOEXEC);
  sigset_t lease_broken;
  sigemptyset(&lease_broken);
  sigaddset(&lease_broken, SIGIO);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &lease_broken, nullptr), 0);
  ASSERT_EQ(::fcntl(leased, F_SETLEASE, F_WRLCK), 0);
  auto run =
      std::async(std::launch::async, [this] { return shell("\"$GORVIC\" mine/out.net 100 in"); });
  const timespec patience{30, 0};
  EXPECT_EQ(::sigtimedwait(&lease_broken, nullptr, &patience), SIGIO);
  fs::rename(path("mine"), path("moved"));
  fs::create_directory_symlink(path("other"), path("mine"));
  ::fcntl(leased, F_SETLEASE, F_UNLCK);
  ::close(leased);
  const Outcome o = run.get();
  ::pthread_sigmask(SIG_UNBLOCK, &lease_broken, nullptr);
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(fs::is_empty(path("other")));
  EXPECT_EQ(without_command(read_file(path("moved/out.net"))),
            without_command(read_file(GORVIC_TEST_DATA "/chain-100.net")));
}

// What setfattr and setfacl would do, without them (a minimal root has neither): an
// extended attribute, and an ACL that lets nobody write (u::rw,u:nobody:rw,g::r,m::rw,o::-),
// in the little-endian form the kernel takes: a version, then tag, permissions and id.
void tag_and_share(const fs::path& file) {
  ASSERT_EQ(::setxattr(file.c_str(), "user.tag", "1", 1, 0), 0);
  static constexpr char kAcl[] =
      "\2\0\0\0"
      "\1\0\6\0\377\377\377\377"
      "\2\0\6\0\376\377\0\0"
      "\4\0\4\0\377\377\377\377"
      "\20\0\6\0\377\377\377\377"
      "\40\0\0\0\377\377\377\377";
  ASSERT_EQ(::setxattr(file.c_str(), "system.posix_acl_access", kAcl, sizeof kAcl - 1, 0), 0);
}

// A file capability (cap_net_raw, effective), as setcap would give it.
void give_a_capability(const fs::path& file) {
  const unsigned char capability[20] = {0x01, 0x00, 0x00, 0x02, 0x00, 0x20};
  ASSERT_EQ(::setxattr(file.c_str(), "security.capability", capability, sizeof capability, 0), 0);
}

// Sets a file under /proc/sys for the life of this object.
struct KernelSetting {
  KernelSetting(const char* name, const char* value) : path(std::string("/proc/sys/") + name) {
    std::ofstream(path) << value;
  }
  ~KernelSetting() { std::ofstream(path) << saved; }
  std::string path;
  std::string saved = read_file(path);
};

const std::string kGen = "\"$GORVIC\" out.net 100 in";

// A row of KeepsTheTargetAndWhatGuardsIt.
struct Guard {
  std::string tmpfs = "size=4m";  // its mount options; "ext4" or "xfs": an image of one
  std::string setup{};            // run first, as root, on a file "precious"; then `prepare`
  void (*prepare)(const fs::path&) = nullptr;
  std::string script = kGen;
  int status = 0;
  std::string err{};
  bool replaced = true;  // the target holds the netlist afterwards, else "precious"
  std::set<std::string> listing = {"out.net"};
  std::string lost{};  // an attribute that writing takes away, as a shell's `>` does
};

// Where the system guards the target (no room, a mount, an attribute, another owner, the
// kernel's link and file protections), it is replaced by an identical file, written in
// place, or left as it was: never cut short, never with its owner, mode, flags, project,
// ACL or attributes changed. Each row runs on a tmpfs of its own (sticky and writable by
// all, as /tmp), as the machine is and as older kernels and NFS would have it. Root only,
// as CI is.
TEST_F(Command, KeepsTheTargetAndWhatGuardsIt) {
  if (geteuid() != 0 || !own_mount_namespace()) {
    GTEST_SKIP() << "mounts, a second user and sysctls need root, with the right to mount";
  }
  // On for this test, as most distributions have them.
  const KernelSetting protected_symlinks("fs/protected_symlinks", "1");
  const KernelSetting protected_regular("fs/protected_regular", "1");
  const std::string netlist = read_file(GORVIC_TEST_DATA "/chain-100.net");
  const std::string open = kError + " Can't open output file <\"out.net\">\n";
  const std::set<std::string> with_lost_found = {"out.net", "lost+found"};
  const Guard guards[] = {
      // No inode for a new file: it is not written in place instead.
      {.tmpfs = "size=2m,nr_inodes=2",
       .script = "\"$GORVIC\" out.net 100000 in",
       .status = 1,
       .err = open,
       .replaced = false},
      // Full, with standard error on the same file system: the new file goes first.
      {.tmpfs = "size=1m",
       .script = "\"$GORVIC\" out.net 100000 in 2>err.log; s=$?; cat err.log >&2; exit $s",
       .status = 1,
       .err = kError + " Can't close output generator file <out.net>\n",
       .replaced = false,
       .listing = {"out.net", "err.log"}},
      // What makes the file what it is stays: it is replaced by an identical file, set-ID
      // bits too, or written in place where a new file would differ.
      {.setup = "chmod 0640 out.net", .prepare = tag_and_share},
      {.setup = "chattr +dA out.net"},
      {.tmpfs = "ext4", .setup = "chattr +x out.net", .listing = with_lost_found},
      {.tmpfs = "ext4", .setup = "chattr +x .", .listing = with_lost_found},
      // A file of project 7 in a directory that gives its project 42 to new files: written in
      // place, as no file of another project may be linked there.
      {.tmpfs = "xfs", .setup = "chattr -p 42 +P . && chattr -p 7 out.net"},
      {.setup = "chmod 0755 out.net", .prepare = give_a_capability, .lost = "security.capability"},
      {.setup = "chown 65534:65534 out.net && chmod 4755 out.net", .script = as_user(kGen)},
      // A file in an overlay's lower layer is replaced without being copied up: the upper
      // layer has room for the netlist, not for the old file.
      {.script = "mkdir lower upper merged && head -c 3000000 /dev/zero >lower/big.net &&"
                 " mount -t tmpfs -o size=1m none upper && mkdir upper/u upper/w && mount -t"
                 " overlay none -o lowerdir=lower,upperdir=upper/u,workdir=upper/w merged &&"
                 " \"$GORVIC\" merged/big.net 100 in; s=$?; grep -q ^cell merged/big.net ||"
                 " s=99; umount merged upper; rm -r lower upper merged; exit $s",
       .replaced = false},
      // What cannot be renamed over is written in place: a bind mount, a name in an
      // append-only directory, another user's file in a sticky directory.
      {.setup = "echo other >source && mount --bind source out.net",
       .listing = {"out.net", "source"}},
      {.setup = "chattr +a .",
       .script = kGen + " && \"$GORVIC\" new.net 3 in",
       .listing = {"out.net", "new.net"}},
      {.setup = "chmod 0666 out.net", .script = as_user(kGen)},
      // What the kernel refuses is refused before anything is written: an append-only
      // file, another user's file or link in a sticky directory (fs.protected_regular,
      // fs.protected_symlinks).
      {.setup = "chattr +a out.net", .status = 1, .err = open, .replaced = false},
      {.setup = "chown 65534:65534 out.net", .status = 1, .err = open, .replaced = false},
      {.setup = "for to in out.net /dev/stdout; do setpriv --reuid=65534 --regid=65534"
                " --clear-groups ln -s $to link-${to##*/}; done",
       .script = "\"$GORVIC\" link-out.net 3 in; \"$GORVIC\" link-stdout 3 in",
       .status = 1,
       .err = kError + " Can't open output file <\"link-out.net\">\n" + kError +
              " Can't open output file <\"link-stdout\">\n",
       .replaced = false,
       .listing = {"out.net", "link-out.net", "link-stdout"}},
  };
  // The rows that need e2fsprogs or xfsprogs, which a minimal root lacks, are left out
  // there; CI's machine has both.
  std::set<std::string> missing;
  for (const std::string tool : {"chattr", "mkfs.ext4", "mkfs.xfs"}) {
    if (shell("command -v " + tool).status == 0) continue;
    missing.insert(tool);
    std::cout << "without " << tool << ": its rows are left out\n";
  }
  // As it is, then as on NFS and on a 3.10 kernel (RHEL 7): without unnamed files.
  std::vector<std::string> ways = {""};
#ifdef GORVIC_INTERPOSE
  ways.insert(ways.end(), {"GORVIC_TEST_TMPFILE_ERROR=95", "GORVIC_TEST_TMPFILE_ERROR=21"});
#endif
  for (const std::string& way : ways) {
    meet(way);
    for (const auto& g : guards) {
      if (missing.contains("mkfs." + g.tmpfs) ||
          (missing.contains("chattr") && g.setup.find("chattr") != std::string::npos)) {
        continue;
      }
      ASSERT_NO_FATAL_FAILURE(mount_tmpfs(g.tmpfs));
      std::ofstream(path("out.net")) << "precious\n";
      ASSERT_EQ(shell(g.setup).status, 0) << g.setup;
      if (g.prepare) g.prepare(path("out.net"));
      const std::string before = metadata(path("out.net"), g.lost);
      const Outcome o = shell(g.script);
      const std::string row = "[" + way + "] [" + g.setup + "] " + g.script;
      EXPECT_EQ(o.status, g.status) << row;
      EXPECT_EQ(o.err, g.err) << row;
      EXPECT_EQ(without_command(read_file(path("out.net"))),
                g.replaced ? without_command(netlist) : "precious\n")
          << row;
      EXPECT_EQ(metadata(path("out.net"), g.lost), before) << row;
      EXPECT_EQ(listing(), g.listing) << row;
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
  const auto run = [this](int kib) {
    std::ofstream(path("out.net")) << "precious\n";
    return shell("ulimit -v " + std::to_string(kib) + "; \"$GORVIC\" out.net 100000 in");
  };
  // The least limit that the run needs, by bisection: runs succeed from there on.
  int enough = 64000;
  for (int short_of_it = 1000; enough - short_of_it > 10;) {
    const int middle = (short_of_it + enough) / 2;
    (run(middle).status == 0 ? enough : short_of_it) = middle;
  }
  EXPECT_EQ(run(enough).status, 0) << enough;
  EXPECT_EQ(read_file(path("out.net")).substr(0, 5), "cell_") << enough;
  // Below it, down to where the program cannot even be loaded, every run fails cleanly.
  int short_of_memory = 0;
  for (int kib = enough - 10; kib > 0; kib -= 10) {
    const Outcome o = run(kib);
    if (o.status == 127) break;
    ++short_of_memory;
    EXPECT_EQ(o.status, 1) << kib;
    EXPECT_EQ(o.err, kError + " Out of memory\n") << kib;
    EXPECT_EQ(read_file(path("out.net")), "precious\n") << kib;
    EXPECT_EQ(listing(), std::set<std::string>{"out.net"}) << kib;
  }
  EXPECT_GT(short_of_memory, 0) << "no limit was tight enough to try";
#endif
}

}  // namespace
