#pragma once

// Runs a command-line program of the project the way a user's shell does:
// arguments quoted, standard input from a file, both outputs captured, and
// the exit status. Temporary files are unique per process, since ctest runs
// the tests of one executable in parallel.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace dlscope::testing {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string tempPath(const std::string& name)
{
    return ::testing::TempDir() + "cli_" + std::to_string(::getpid()) + "_" + name;
}

inline void writeFile(const std::string& path, const std::string& data) { std::ofstream(path, std::ios::binary) << data; }

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string shellQuote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline Outcome runProgram(const char* program, const std::vector<std::string>& args, const std::string& input)
{
    const std::string in = tempPath("stdin"), out = tempPath("stdout"), err = tempPath("stderr");
    writeFile(in, input);
    std::string command = program;
    for (const std::string& a : args)
        command += " " + shellQuote(a);
    command += " <" + shellQuote(in) + " >" + shellQuote(out) + " 2>" + shellQuote(err);
    const int raw = std::system(command.c_str());
    Outcome o;
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    o.out = readFile(out);
    o.err = readFile(err);
    return o;
}

} // namespace dlscope::testing
