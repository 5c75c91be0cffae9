// Runs the command under test as a separate process, as a shell would, and
// says what it should write.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// Path of the executable under test, from the test program's command line.
extern std::string command_path;

// Where the command's standard output goes: close_fails is a pipe whose
// close(1) fails with EIO.
enum class Stdout { pipe, full_device, closed, broken_pipe, close_fails };

// Whether this kernel can make close fail for close_fails.
bool can_fail_close();

struct Outcome {
	std::string out;
	std::string err;
	int status; // exit status, or 128 + the signal that ended the process
	bool operator==(const Outcome &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Outcome &outcome);

// argv is the whole argument vector, name included; it may be empty.
Outcome run(const std::vector<std::string> &argv, Stdout to = Stdout::pipe);

// What the command should write when called under this name.  The Korean
// texts are converted from UTF-8 here rather than copied from the command.
enum class Operand { start, end, interval };
Outcome usage(const std::string &name);
Outcome not_a_number(const std::string &name, Operand operand);
Outcome zero_interval(const std::string &name);
Outcome end_below_start(const std::string &name);
Outcome cannot_write(const std::string &name);
