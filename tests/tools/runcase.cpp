// Runs one end-to-end case: copies tests/runs/<case> into a fresh directory, makes its binary
// inputs, runs the program there and compares the exit status and the expected files.
//
//   runcase <program> <case dir> <mkinput program> [run-string parameter ...]
//
// Parameters after the mkinput program are added to the run string: the suite runs every case
// a second time in small bands of rows, which must give the same files.
//
// A case directory holds the inputs, and:
//   args      run-string parameters, one per line (optional)
//   setup     mkinput commands, one per line, run in the copy before the program (optional)
//   status    the expected exit status (default 0)
//   env       NAME=value lines added to the environment; @DIR@ stands for the run directory
//   absent    names that must not exist after the run
//   mask      line beginnings, one per line: a line of a text file that begins with one is
//             compared up to there only (times and memory of the run report)
//   README    one line: why the case exists (not copied), unless the command file says so
//             in a comment line
//   unbanded  one line: why the case runs only whole (no banded second run; not copied)
//   expected/ files that must exist after the run with exactly this content; in text files a
//             line holding ".  program = " (the page header with the date) is compared from
//             there on, and a file named stdout or stderr is compared with what the program wrote.
// With TERVALA_UPDATE=1 in the environment the expected files are rewritten from the run.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

static std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

static std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string l;
  while (std::getline(in, l)) out.push_back(l);
  return out;
}

static std::vector<std::string> maskedBeginnings;

// The durations of the batch log's steps, "(0.12 s)", vary from run to run.
static std::string maskDurations(const std::string& l) {
  static const std::regex duration(R"(\(\d+\.\d\d s\))");
  return std::regex_replace(l, duration, "(<time>)");
}

static std::string mask(const std::string& text) {
  std::string out;
  for (auto l : lines(text)) {
    size_t p = l.find(".  program = ");
    l = p == std::string::npos ? maskDurations(l) : "<date>" + l.substr(p);
    for (const auto& b : maskedBeginnings) {
      if (l.compare(0, b.size(), b) == 0) l = b + "<masked>";
    }
    out += l + "\n";
  }
  return out;
}

static bool isText(const std::string& s) {
  for (unsigned char c : s) {
    if (c == 0 || (c < 32 && c != '\n' && c != '\r' && c != '\t')) return false;
  }
  return true;
}

static int runCommand(const std::vector<std::string>& argv, const fs::path& dir, const fs::path& out,
                      const fs::path& err, const std::vector<std::string>& env) {
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    FILE* in = std::freopen("/dev/null", "r", stdin);
    FILE* o = std::freopen(out.c_str(), "w", stdout);
    FILE* e = std::freopen(err.c_str(), "w", stderr);
    (void)in;
    (void)o;
    (void)e;
    for (const auto& kv : env) putenv(const_cast<char*>(kv.c_str()));
    std::vector<char*> a;
    for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    execv(a[0], a.data());
    _exit(127);
  }
  int st = 0;
  waitpid(pid, &st, 0);
  if (WIFEXITED(st)) return WEXITSTATUS(st);
  return 128 + WTERMSIG(st);
}

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: runcase <program> <case dir> [mkinput]\n";
    return 2;
  }
  const fs::path program = fs::absolute(argv[1]);
  const fs::path caseDir = fs::absolute(argv[2]);
  const fs::path mkinput = argc > 3 ? fs::absolute(argv[3]) : fs::path();
  std::vector<std::string> extra;
  for (int k = 4; k < argc; ++k) extra.push_back(argv[k]);
  const bool update = std::getenv("TERVALA_UPDATE") && std::string(std::getenv("TERVALA_UPDATE")) == "1" && argc <= 4;

  char tmpl[] = "/tmp/tervala-case-XXXXXX";
  if (!mkdtemp(tmpl)) {
    perror("mkdtemp");
    return 2;
  }
  const fs::path work = tmpl;
  const fs::path outDir = work / "run";
  fs::create_directories(outDir);
  for (const auto& e : fs::directory_iterator(caseDir)) {
    const std::string name = e.path().filename().string();
    if (name == "expected" || name == "args" || name == "status" || name == "setup" || name == "absent" ||
        name == "env" || name == "mask" || name == "unbanded" || name == "README")
      continue;
    fs::copy(e.path(), outDir / name, fs::copy_options::recursive);
  }

  if (fs::exists(caseDir / "mask")) {
    for (const auto& l : lines(readFile(caseDir / "mask"))) {
      if (!l.empty()) maskedBeginnings.push_back(l);
    }
  }

  std::vector<std::string> env;
  if (fs::exists(caseDir / "env")) {
    for (auto l : lines(readFile(caseDir / "env"))) {
      for (size_t p; (p = l.find("@DIR@")) != std::string::npos;) l.replace(p, 5, outDir.string());
      if (!l.empty()) env.push_back(l);
    }
  }

  int failures = 0;
  if (fs::exists(caseDir / "setup")) {
    for (const auto& l : lines(readFile(caseDir / "setup"))) {
      if (l.empty() || l[0] == '#') continue;
      std::vector<std::string> a = {mkinput.string()};
      std::istringstream in(l);
      for (std::string w; in >> w;) a.push_back(w);
      int rc = runCommand(a, outDir, work / "setup.out", work / "setup.err", {});
      if (rc != 0) {
        std::cerr << "setup failed (" << rc << "): " << l << "\n" << readFile(work / "setup.err");
        return 1;
      }
    }
  }

  std::vector<std::string> a = {program.string()};
  if (fs::exists(caseDir / "args")) {
    for (const auto& l : lines(readFile(caseDir / "args"))) {
      if (!l.empty()) a.push_back(l);
    }
  }
  a.insert(a.end(), extra.begin(), extra.end());
  const int rc = runCommand(a, outDir, work / "stdout", work / "stderr", env);
  int want = 0;
  if (fs::exists(caseDir / "status")) want = std::atoi(readFile(caseDir / "status").c_str());
  if (update) {
    std::ofstream(caseDir / "status") << rc << "\n";
  } else if (rc != want) {
    std::cerr << "exit status " << rc << ", expected " << want << "\n";
    std::cerr << "stderr:\n" << readFile(work / "stderr");
    ++failures;
  }

  if (fs::exists(caseDir / "absent")) {
    for (const auto& l : lines(readFile(caseDir / "absent"))) {
      if (!l.empty() && fs::exists(outDir / l)) {
        std::cerr << "file " << l << " should not exist\n";
        ++failures;
      }
    }
  }

  if (fs::exists(caseDir / "expected")) {
    for (const auto& e : fs::recursive_directory_iterator(caseDir / "expected")) {
      if (!e.is_regular_file()) continue;
      const fs::path rel = fs::relative(e.path(), caseDir / "expected");
      fs::path actualPath = outDir / rel;
      if (rel == "stdout" || rel == "stderr") actualPath = work / rel;
      if (!fs::exists(actualPath)) {
        std::cerr << "missing output " << rel << "\n";
        ++failures;
        continue;
      }
      std::string expected = readFile(e.path());
      std::string actual = readFile(actualPath);
      if (update) {
        std::ofstream(e.path(), std::ios::binary) << (isText(actual) ? mask(actual) : actual);
        continue;
      }
      if (isText(expected) && isText(actual)) {
        expected = mask(expected);
        actual = mask(actual);
      }
      if (expected != actual) {
        ++failures;
        std::cerr << "output " << rel << " differs\n";
        if (isText(expected) && isText(actual)) {
          auto le = lines(expected), la = lines(actual);
          for (size_t i = 0; i < std::max(le.size(), la.size()); ++i) {
            std::string x = i < le.size() ? le[i] : "<end>";
            std::string y = i < la.size() ? la[i] : "<end>";
            if (x != y) {
              std::cerr << "  line " << i + 1 << "\n    expected: [" << x << "]\n    actual:   [" << y << "]\n";
              break;
            }
          }
        } else {
          std::cerr << "  sizes " << expected.size() << " and " << actual.size() << "\n";
        }
      }
    }
  }
  if (failures == 0 || update) {
    fs::remove_all(work);
  } else {
    std::cerr << "run kept in " << outDir << "\n";
  }
  return failures == 0 ? 0 : 1;
}
