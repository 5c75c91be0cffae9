// What one run of traffic_rate costs, from spawn to reaped exit, side by
// side with /bin/true, a program that only exits, and what a user might
// write instead.  Extra operands name further traffic_rate builds to time:
//
//   traffic_rate_bench [benchmark options] [traffic_rate ...]

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

extern char **environ;

namespace
{

void spawn_and_wait(benchmark::State &state,
                    const std::vector<std::string> &argv)
{
	std::vector<char *> args;
	for (const std::string &arg : argv)
		args.push_back(const_cast<char *>(arg.c_str()));
	args.push_back(nullptr);
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);

	for (auto _ : state) {
		pid_t pid = 0;
		int status = 0;
		if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(),
		                 environ) != 0 ||
		    waitpid(pid, &status, 0) != pid || status != 0) {
			state.SkipWithError(
			        "the command did not run and exit 0");
			break;
		}
	}
	posix_spawn_file_actions_destroy(&actions);
}

// Prints, after the usual table, each command's time per run as a multiple
// of /bin/true's and of the bare exit's.  With repetitions, the medians.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
	void ReportRuns(const std::vector<Run> &runs) override
	{
		ConsoleReporter::ReportRuns(runs);
		for (const Run &run : runs) {
			if (run.error_occurred ||
			    (run.run_type == Run::RT_Aggregate &&
			     run.aggregate_name != "median"))
				continue;
			record(run.run_name.function_name,
			       run.GetAdjustedRealTime());
		}
	}

	void Finalize() override
	{
		ConsoleReporter::Finalize();
		std::printf("\n%-40s %10s %8s %8s\n", "per run", "us", "x true",
		            "x exit");
		for (const auto &[name, time] : times_)
			std::printf("%-40s %10.1f %8s %8s\n", name.c_str(),
			            time, ratio(time, "true").c_str(),
			            ratio(time, "exit_only").c_str());
	}

private:
	std::vector<std::pair<std::string, double>> times_;

	void record(const std::string &name, double time)
	{
		for (auto &entry : times_)
			if (entry.first == name) {
				entry.second = time;
				return;
			}
		times_.emplace_back(name, time);
	}

	// time as a multiple of the named command's, or "-" if it was not run.
	std::string ratio(double time, const std::string &name) const
	{
		for (const auto &entry : times_)
			if (entry.first == name) {
				char text[32];
				std::snprintf(text, sizeof text, "%.2f",
				              time / entry.second);
				return text;
			}
		return "-";
	}
};

void add(const std::string &name, const std::vector<std::string> &argv)
{
	benchmark::RegisterBenchmark(name.c_str(), spawn_and_wait, argv)
	        ->UseRealTime()
	        ->Unit(benchmark::kMicrosecond);
}

} // namespace

int main(int argc, char **argv)
{
	benchmark::Initialize(&argc, argv);
	std::vector<std::string> builds(argv + 1, argv + argc);
	if (builds.empty())
		builds.emplace_back(TRAFFIC_RATE_PATH);

	add("true", {"/bin/true"});
#ifdef EXIT_ONLY_PATH
	add("exit_only", {EXIT_ONLY_PATH});
#endif
	for (const std::string &build : builds)
		add("traffic_rate " + build, {build, "0", "1280000", "10"});
	add("awk", {"awk", "BEGIN { print int((1280000 - 0) / (10 * 128)) }"});
	add("dash", {"dash", "-c", "echo $(( (1280000 - 0) / (10 * 128) ))"});
	add("python3", {"python3", "-c", "print((1280000 - 0) // (10 * 128))"});

	RatioReporter reporter;
	benchmark::RunSpecifiedBenchmarks(&reporter);
	benchmark::Shutdown();
}
