// Random argument vectors against a model of the command written apart from
// it: readings are reduced through 64-bit arithmetic, the rate is an exact
// quotient.  TRAFFIC_RATE_SEED=n repeats a run.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "run_command.h"

namespace
{

constexpr std::uint64_t two_to_32 = std::uint64_t{1} << 32;

std::optional<std::uint64_t> model_value(const std::string &text)
{
	size_t i = text.find_first_not_of(std::string(" \t\n\v\f\r"));
	if (i == std::string::npos)
		return std::nullopt;
	const bool negative = text[i] == '-';
	if (text[i] == '-' || text[i] == '+')
		i++;
	if (i == text.size() || text[i] < '0' || text[i] > '9')
		return std::nullopt;
	std::uint64_t value = 0;
	for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; i++)
		value = (value * 10 + std::uint64_t(text[i] - '0')) % two_to_32;
	return negative ? (two_to_32 - value) % two_to_32 : value;
}

Outcome model(const std::vector<std::string> &argv)
{
	const std::string name =
	        argv.empty() || argv[0].empty() ? "traffic_rate" : argv[0];
	if (argv.size() != 4)
		return usage(name);
	std::uint64_t values[3];
	for (int i = 0; i < 3; i++) {
		const auto value = model_value(argv[size_t(i) + 1]);
		if (!value)
			return not_a_number(name, static_cast<Operand>(i));
		values[i] = *value;
	}
	if (values[2] == 0)
		return zero_interval(name);
	const std::uint64_t difference =
	        (values[1] + two_to_32 - values[0]) % two_to_32;
	return {std::to_string(difference / (values[2] * 128)) + "\n", "", 0};
}

class Generator
{
public:
	explicit Generator(std::uint64_t seed) : engine_(seed)
	{
	}

	std::vector<std::string> argv()
	{
		std::vector<std::string> argv;
		if (below(50) != 0)
			argv.push_back(
			        pick({"traffic_rate", "/bin/tr", "", "r"}));
		const size_t operands = below(8) != 0 ? 3 : below(7);
		for (size_t i = 0; i < operands; i++)
			argv.push_back(operand(i == 2));
		return argv;
	}

private:
	std::mt19937_64 engine_;

	size_t below(size_t n)
	{
		return std::uniform_int_distribution<size_t>(0, n - 1)(engine_);
	}

	std::string pick(std::vector<std::string> choices)
	{
		return choices[below(choices.size())];
	}

	std::string digits(size_t count)
	{
		std::string text;
		while (text.size() < count)
			text += char('0' + below(10));
		return text;
	}

	// Intervals are mostly short, so that most rates are not zero.
	std::string operand(bool interval)
	{
		if (below(30) == 0)
			return "";
		std::string text;
		for (size_t n = below(4) == 0 ? below(4) : 0; n > 0; n--)
			text += " \t\n\v\f\r"[below(6)];
		text += pick({"", "", "", "", "+", "-", "+-", "--"});
		const size_t length = below(12) == 0 ? below(3)
		                      : interval && below(4) != 0
		                              ? 1 + below(4)
		                              : 1 + below(40);
		text += digits(length);
		if (below(4) == 0)
			text += pick({"abc", ".5", " 7", "\xb0\xa1", "\xff",
			              "0x1", "\x80", "-", "e9"});
		return text;
	}
};

TEST(Random, ArgumentVectorsMatchTheModel)
{
	const char *seed_text = std::getenv("TRAFFIC_RATE_SEED");
	const std::uint64_t seed =
	        seed_text != nullptr ? std::strtoull(seed_text, nullptr, 10)
	                             : 20261208;
	Generator generate(seed);
	for (int i = 0; i < 3000; i++) {
		const auto argv = generate.argv();
		ASSERT_EQ(run(argv), model(argv))
		        << "TRAFFIC_RATE_SEED=" << seed << ", case " << i
		        << ", argv " << testing::PrintToString(argv);
	}
}

} // namespace
