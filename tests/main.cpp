#include <gtest/gtest.h>

#include <cstdio>

#include "run_command.h"

std::string command_path;

int main(int argc, char **argv)
{
	testing::InitGoogleTest(&argc, argv);
	if (argc != 2) {
		std::fprintf(stderr, "usage: %s [gtest options] traffic_rate\n",
		             argv[0]);
		return 2;
	}
	command_path = argv[1];
	return RUN_ALL_TESTS();
}
