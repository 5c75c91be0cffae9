#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "run_command.h"

std::string command_path;

int main(int argc, char **argv)
{
	testing::InitGoogleTest(&argc, argv);
	const char *from_environment = std::getenv("TRAFFIC_RATE_UNDER_TEST");
	if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
		std::fprintf(stderr,
		             "usage: %s [gtest options] [traffic_rate]\n"
		             "Runs the tests against traffic_rate: by default "
		             "$TRAFFIC_RATE_UNDER_TEST,\nor else %s.\n",
		             argv[0], TRAFFIC_RATE_BUILT);
		return 2;
	}
	if (argc == 2)
		command_path = argv[1];
	else if (from_environment && *from_environment)
		command_path = from_environment;
	else
		command_path = TRAFFIC_RATE_BUILT;
	return RUN_ALL_TESTS();
}
