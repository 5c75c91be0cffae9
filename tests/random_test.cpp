// Random argument vectors against a model of the command written apart from
// it: a reading is wide when its digits, without leading zeros, compare above
// "4294967295" as text, 32-bit values are reduced through 64-bit arithmetic,
// and the rate is an exact quotient.  TRAFFIC_RATE_SEED=n repeats a run;
// TRAFFIC_RATE_CASES=n runs n cases, 300 by default (the release runs 3000).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "run_command.h"

namespace
{

constexpr std::uint64_t two_to_32 = std::uint64_t{1} << 32;

struct Reading {
	std::uint64_t value; // modulo 2^64, negated after a minus sign
	bool wide;           // the digits' value exceeds 2^32 - 1
};

std::optional<Reading> model_value(const std::string &text)
{
	size_t i = text.find_first_not_of(std::string(" \t\n\v\f\r"));
	if (i == std::string::npos)
		return std::nullopt;
	const bool negative = text[i] == '-';
	if (text[i] == '-' || text[i] == '+')
		i++;
	const size_t end = text.find_first_not_of("0123456789", i);
	const std::string digits = text.substr(i, end - i);
	if (digits.empty())
		return std::nullopt;
	const std::string significant = digits.substr(
	        std::min(digits.find_first_not_of('0'), digits.size()));
	const bool wide =
	        significant.size() > 10 ||
	        (significant.size() == 10 && significant > "4294967295");
	// Unsigned 64-bit arithmetic is arithmetic modulo 2^64.
	std::uint64_t value = 0;
	for (const char digit : digits)
		value = value * 10 + std::uint64_t(digit - '0');
	if (negative)
		value = 0 - value;
	return Reading{value, wide};
}

Outcome model(const std::vector<std::string> &argv)
{
	const std::string name =
	        argv.empty() || argv[0].empty() ? "traffic_rate" : argv[0];
	if (argv.size() != 4)
		return usage(name);
	Reading readings[3];
	for (int i = 0; i < 3; i++) {
		const auto reading = model_value(argv[size_t(i) + 1]);
		if (!reading)
			return not_a_number(name, static_cast<Operand>(i));
		readings[i] = *reading;
	}
	const auto [start, start_wide] = readings[0];
	const auto [end, end_wide] = readings[1];
	const std::uint64_t interval = readings[2].value % two_to_32;
	if (interval == 0)
		return zero_interval(name);
	std::uint64_t difference = 0;
	if (start_wide || end_wide) {
		if (end < start)
			return end_below_start(name);
		difference = end - start;
	} else {
		difference = (end % two_to_32 + two_to_32 - start % two_to_32) %
		             two_to_32;
	}
	return {std::to_string(difference / (interval * 128)) + "\n", "", 0};
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
			argv.push_back(pick({"traffic_rate", "/bin/tr", "", "r",
			                     "\xb0\xa1", "\xed\x95\x9c/tr"}));
		const size_t operands = below(8) != 0 ? 3 : below(7);
		if (operands == 3 && below(3) == 0)
			return counter_readings(argv);
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

	// Decimal text times k, plus r, for k below 2^32 and r below 2^34.
	static std::string times_plus(const std::string &text, std::uint64_t k,
	                              std::uint64_t r)
	{
		std::string result;
		std::uint64_t carry = r;
		for (auto digit = text.rbegin(); digit != text.rend();
		     ++digit) {
			carry += std::uint64_t(*digit - '0') * k;
			result.insert(result.begin(), char('0' + carry % 10));
			carry /= 10;
		}
		for (; carry > 0; carry /= 10)
			result.insert(result.begin(), char('0' + carry % 10));
		return result;
	}

	// 20 to 40 digits: a multiple of 2^64 plus at most 2^33, so that the
	// value modulo 2^64 may well fit in 32 bits though the run is wide.
	std::string near_multiple_of_2_to_64()
	{
		std::string text = "18446744073709551616";
		for (size_t n = below(3); n > 0; n--)
			text = times_plus(text, 1 + below(999999999), 0);
		return times_plus(text, 1, engine_() >> (31 + below(33)));
	}

	// Two readings of a 64-bit counter, as a script would pass them: a
	// start of any size, then up to 2^40 bytes more, or a reset.
	std::vector<std::string> counter_readings(std::vector<std::string> argv)
	{
		const std::uint64_t start = engine_() >> below(64);
		const std::uint64_t end =
		        below(8) == 0 ? (start == 0 ? 0 : engine_() % start)
		                      : start + (engine_() >> (24 + below(40)));
		argv.push_back(std::to_string(start));
		argv.push_back(std::to_string(end));
		argv.push_back(std::to_string(1 + below(3600)));
		return argv;
	}

	// Intervals are mostly short, so that most rates are not zero.
	std::string operand(bool interval)
	{
		if (below(30) == 0)
			return "";
		std::string text;
		for (size_t n = below(4) == 0 ? below(4) : 0; n > 0; n--)
			text += " \t\n\v\f\r"[below(6)];
		if (below(10) == 0)
			text += pick({"\b", "\x0e", "\x1f", "!", "/", ":"});
		text += pick({"", "", "", "", "+", "-", "+-", "--"});
		const size_t length = below(12) == 0 ? below(3)
		                      : interval && below(4) != 0
		                              ? 1 + below(4)
		                              : 1 + below(40);
		text += below(10) == 0 ? near_multiple_of_2_to_64()
		                       : digits(length);
		if (below(4) == 0)
			text += pick({"abc", ".5", " 7", "\xb0\xa1", "\xff",
			              "0x1", "\x80", "-", "e9", "/", ":", "\b",
			              "\x0e"});
		return text;
	}
};

TEST(Random, ArgumentVectorsMatchTheModel)
{
	// A fresh seed each run unless one is given, printed to repeat it.
	const char *seed_text = std::getenv("TRAFFIC_RATE_SEED");
	const std::uint64_t seed =
	        seed_text != nullptr ? std::strtoull(seed_text, nullptr, 10)
	                             : std::random_device{}();
	std::cout << "TRAFFIC_RATE_SEED=" << seed << std::endl;
	const char *cases_text = std::getenv("TRAFFIC_RATE_CASES");
	const unsigned long cases =
	        cases_text != nullptr ? std::strtoul(cases_text, nullptr, 10)
	                              : 300;
	ASSERT_GT(cases, 0U) << "TRAFFIC_RATE_CASES=" << cases_text
	                     << " is not a count of cases";
	Generator generate(seed);
	for (unsigned long i = 0; i < cases; i++) {
		const auto argv = generate.argv();
		ASSERT_EQ(run(argv), model(argv))
		        << "TRAFFIC_RATE_SEED=" << seed << ", case " << i
		        << ", argv " << testing::PrintToString(argv);
	}
}

} // namespace
