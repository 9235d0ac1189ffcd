// Runs a program as a child process with a chosen environment and working
// folder, and collects its exit status, standard output and standard error;
// and small text helpers for what it returns.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace korva::testing {

struct program_result {
  int status = -1;  // exit status, or -1 when the child did not exit normally
  std::string out;
  std::string err;
};

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The current environment without the variables the correlator reads, plus
// the given ones.
inline std::vector<std::string> child_environment(const std::map<std::string, std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    const std::string name = entry.substr(0, entry.find('='));
    if (name == "RAW-FILE" || name == "COR-FILE" || name == "TZ" || extra.count(name)) continue;
    env.push_back(entry);
  }
  for (const auto& [name, value] : extra) env.push_back(name + "=" + value);
  return env;
}

// Runs program with args (argv[0] is the program) in folder, with the extra
// environment variables; address_space_limit > 0 caps the child's memory (in
// bytes), to make its allocations fail.
inline program_result run_program(const std::string& program, const std::vector<std::string>& args,
                                  const std::filesystem::path& folder,
                                  const std::map<std::string, std::string>& extra_env = {},
                                  rlim_t address_space_limit = 0) {
  const std::filesystem::path out_path = folder / ".child-stdout";
  const std::filesystem::path err_path = folder / ".child-stderr";
  std::vector<std::string> env = child_environment(extra_env);
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(folder.c_str()) != 0) _exit(127);
    if (address_space_limit > 0) {
      const rlimit limit{address_space_limit, address_space_limit};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(127);
    }
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  program_result result;
  int wait_status = 0;
  if (pid > 0 && waitpid(pid, &wait_status, 0) == pid && WIFEXITED(wait_status))
    result.status = WEXITSTATUS(wait_status);
  result.out = read_file(out_path);
  result.err = read_file(err_path);
  std::filesystem::remove(out_path);
  std::filesystem::remove(err_path);
  return result;
}

// The lines of a text (without their newlines).
inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace korva::testing
