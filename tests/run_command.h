// Runs the command under test as a separate process, as a shell would.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// Path of the executable under test, from the test program's command line.
extern std::string command_path;

enum class Stdout { pipe, full_device, closed, broken_pipe };

struct Outcome {
	std::string out;
	std::string err;
	int status; // exit status, or 128 + the signal that ended the process
	bool operator==(const Outcome &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Outcome &outcome);

// argv is the whole argument vector, name included; it may be empty.
Outcome run(const std::vector<std::string> &argv, Stdout to = Stdout::pipe);

// The EUC-KR bytes of a UTF-8 text.
std::string euc_kr(const std::string &utf8);
