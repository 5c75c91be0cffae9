#include "run_command.h"

#include <fcntl.h>
#include <iconv.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <system_error>

extern char **environ;

namespace
{

void check(int rc, const char *what)
{
	if (rc != 0)
		throw std::system_error(rc == -1 ? errno : rc,
		                        std::generic_category(), what);
}

// Reads both pipes to their ends together, so that neither can fill up.
void drain(int out_fd, int err_fd, Outcome &outcome)
{
	pollfd fds[] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
	std::string *into[] = {&outcome.out, &outcome.err};
	while (fds[0].fd >= 0 || fds[1].fd >= 0) {
		if (poll(fds, 2, -1) < 0 && errno != EINTR)
			check(-1, "poll");
		for (int i = 0; i < 2; i++) {
			if (fds[i].fd < 0 || fds[i].revents == 0)
				continue;
			char buffer[4096];
			const ssize_t n =
			        read(fds[i].fd, buffer, sizeof buffer);
			if (n > 0) {
				into[i]->append(buffer, static_cast<size_t>(n));
			} else {
				close(fds[i].fd);
				fds[i].fd = -1;
			}
		}
	}
}

std::string escaped(const std::string &bytes)
{
	std::string text;
	for (const char c : bytes) {
		if (c >= ' ' && c <= '~' && c != '\\') {
			text += c;
			continue;
		}
		char hex[5];
		std::snprintf(hex, sizeof hex, "\\x%02x",
		              static_cast<unsigned char>(c));
		text += hex;
	}
	return text;
}

std::string euc_kr(const std::string &utf8)
{
	const iconv_t converter = iconv_open("EUC-KR", "UTF-8");
	if (converter == reinterpret_cast<iconv_t>(-1))
		check(-1, "iconv_open EUC-KR");
	std::string in = utf8;
	std::string result(in.size() * 2, '\0');
	char *from = in.data();
	char *to = result.data();
	size_t from_left = in.size();
	size_t to_left = result.size();
	const size_t converted =
	        iconv(converter, &from, &from_left, &to, &to_left);
	iconv_close(converter);
	if (converted == static_cast<size_t>(-1))
		check(-1, "iconv");
	result.resize(result.size() - to_left);
	return result;
}

const std::string &label(Operand operand)
{
	static const std::string labels[] = {euc_kr("시작트래픽"),
	                                     euc_kr("종료트래픽"),
	                                     euc_kr("간격(초단위)")};
	return labels[static_cast<int>(operand)];
}

Outcome failure(const std::string &name, const std::string &message)
{
	return {"", name + ": " + message + "\n", 1};
}

} // namespace

std::ostream &operator<<(std::ostream &os, const Outcome &outcome)
{
	return os << "{out \"" << escaped(outcome.out) << "\", err \""
	          << escaped(outcome.err) << "\", status " << outcome.status
	          << "}";
}

Outcome run(const std::vector<std::string> &argv, Stdout to)
{
	int out[2];
	int err[2];
	check(pipe2(out, O_CLOEXEC), "pipe2");
	check(pipe2(err, O_CLOEXEC), "pipe2");

	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	switch (to) {
	case Stdout::broken_pipe:
		close(out[0]);
		out[0] = -1;
		[[fallthrough]];
	case Stdout::pipe:
		posix_spawn_file_actions_adddup2(&actions, out[1], 1);
		break;
	case Stdout::full_device:
		posix_spawn_file_actions_addopen(&actions, 1, "/dev/full",
		                                 O_WRONLY, 0);
		break;
	case Stdout::closed:
		posix_spawn_file_actions_addclose(&actions, 1);
		break;
	}
	posix_spawn_file_actions_adddup2(&actions, err[1], 2);

	// The command must meet a broken pipe the way it would from a shell.
	posix_spawnattr_t attributes;
	posix_spawnattr_init(&attributes);
	sigset_t default_signals;
	sigemptyset(&default_signals);
	sigaddset(&default_signals, SIGPIPE);
	posix_spawnattr_setsigdefault(&attributes, &default_signals);
	posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

	std::vector<char *> args;
	for (const std::string &arg : argv)
		args.push_back(const_cast<char *>(arg.c_str()));
	args.push_back(nullptr);

	pid_t pid = 0;
	const int spawned = posix_spawn(&pid, command_path.c_str(), &actions,
	                                &attributes, args.data(), environ);
	posix_spawn_file_actions_destroy(&actions);
	posix_spawnattr_destroy(&attributes);
	close(out[1]);
	close(err[1]);
	Outcome outcome{"", "", -1};
	drain(out[0], err[0], outcome);
	check(spawned, command_path.c_str());

	int status = 0;
	while (waitpid(pid, &status, 0) < 0)
		if (errno != EINTR)
			check(-1, "waitpid");
	outcome.status = WIFEXITED(status) ? WEXITSTATUS(status)
	                                   : 128 + WTERMSIG(status);
	return outcome;
}

Outcome usage(const std::string &name)
{
	return {name + " " + label(Operand::start) + " " + label(Operand::end) +
	                " " + label(Operand::interval) + "\n",
	        "", 0};
}

Outcome not_a_number(const std::string &name, Operand operand)
{
	return failure(name, label(operand) + ": " + euc_kr("숫자가 아닙니다"));
}

Outcome zero_interval(const std::string &name)
{
	return failure(name, label(Operand::interval) + ": " +
	                             euc_kr("0보다 커야 합니다"));
}

Outcome end_below_start(const std::string &name)
{
	return failure(name, label(Operand::end) + ": " +
	                             label(Operand::start) +
	                             euc_kr("보다 작습니다"));
}

Outcome cannot_write(const std::string &name)
{
	return failure(name, euc_kr("표준 출력에 쓸 수 없습니다"));
}
