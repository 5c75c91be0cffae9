#include "run_command.h"

#include <fcntl.h>
#include <iconv.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
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

// Makes close(1) fail with EIO from here on, through exec, as on a network
// file system that reports a deferred write error at close.
void fail_close_of_stdout()
{
	sock_filter filter[] = {
	        BPF_STMT(BPF_LD | BPF_W | BPF_ABS,
	                 offsetof(seccomp_data, arch)),
	        // A 32-bit x86 program calls close by its i386 number, 6.
	        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_I386, 0, 2),
	        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
	        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 6, 2, 5),
	        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
	        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_close, 0, 3),
	        BPF_STMT(BPF_LD | BPF_W | BPF_ABS,
	                 offsetof(seccomp_data, args[0])),
	        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 1, 0, 1),
	        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EIO),
	        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
	};
	const sock_fprog program{sizeof filter / sizeof filter[0], filter};
	if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
	    prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
		dprintf(2, "cannot make close fail: %s\n",
		        std::strerror(errno));
		_exit(127);
	}
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

bool can_fail_close()
{
	const pid_t pid = fork();
	if (pid == 0) {
		fail_close_of_stdout();
		_exit(close(1) != 0 && errno == EIO ? 0 : 1);
	}
	int status = 1;
	waitpid(pid, &status, 0);
	return pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

Outcome run(const std::vector<std::string> &argv, Stdout to)
{
	int out[2];
	int err[2];
	check(pipe2(out, O_CLOEXEC), "pipe2");
	check(pipe2(err, O_CLOEXEC), "pipe2");
	if (to == Stdout::broken_pipe) {
		close(out[0]);
		out[0] = -1;
	}
	std::vector<char *> args;
	for (const std::string &arg : argv)
		args.push_back(const_cast<char *>(arg.c_str()));
	args.push_back(nullptr);

	const pid_t pid = fork();
	check(pid < 0 ? -1 : 0, "fork");
	if (pid == 0) {
		if (to == Stdout::full_device)
			dup2(open("/dev/full", O_WRONLY | O_CLOEXEC), 1);
		else if (to == Stdout::closed)
			close(1);
		else
			dup2(out[1], 1);
		dup2(err[1], 2);
		// The command must meet a broken pipe the way it would from a
		// shell.
		signal(SIGPIPE, SIG_DFL);
		if (to == Stdout::close_fails)
			fail_close_of_stdout();
		execve(command_path.c_str(), args.data(), environ);
		dprintf(2, "cannot run %s: %s\n", command_path.c_str(),
		        std::strerror(errno));
		_exit(127);
	}
	close(out[1]);
	close(err[1]);
	Outcome outcome{"", "", -1};
	drain(out[0], err[0], outcome);

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
