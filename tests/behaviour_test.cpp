#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "run_command.h"

namespace
{

using Args = std::vector<std::string>;

const std::string name = "traffic_rate";

Outcome rate(const std::string &value)
{
	return {value + "\n", "", 0};
}

struct Case {
	Args operands;
	Outcome expected;
};

void check_all(const std::vector<Case> &cases)
{
	for (const Case &c : cases) {
		Args argv{name};
		argv.insert(argv.end(), c.operands.begin(), c.operands.end());
		EXPECT_EQ(run(argv), c.expected)
		        << "operands: " << testing::PrintToString(c.operands);
	}
}

TEST(Rate, IsTheWrappingDifferenceOverIntervalTimes128)
{
	check_all({
	        {{"0", "128", "1"}, rate("1")},
	        {{"0", "127", "1"}, rate("0")},
	        {{"0", "1000", "1"}, rate("7")},
	        {{"100", "1380", "10"}, rate("1")},
	        {{"0", "1280000", "10"}, rate("1000")},
	        {{"7", "7", "1"}, rate("0")},
	        {{"4294967295", "4294967295", "33554431"}, rate("0")},
	        {{"0", "4294967295", "1"}, rate("33554431")},
	        // A 32-bit counter that wrapped between the readings.
	        {{"4294967000", "296", "1"}, rate("4")},
	        {{"1", "0", "1"}, rate("33554431")},
	        // Intervals whose divisor needs more than 32 bits.
	        {{"0", "4294967295", "33554431"}, rate("1")},
	        {{"0", "4294967295", "33554432"}, rate("0")},
	        {{"0", "4294967295", "33554433"}, rate("0")},
	        {{"0", "4294967295", "4294967295"}, rate("0")},
	        // A reading above 2^32 - 1 is of a wider counter: both readings
	        // are then taken modulo 2^64, and the difference is not
	        // wrapped.
	        {{"123456789012", "135956789012", "10"}, rate("9765625")},
	        {{"5000000000000", "5012500000000", "1"}, rate("97656250")},
	        {{"4000000000", "9000000000", "1"}, rate("39062500")},
	        {{"4294967296000", "4294968576000", "10"}, rate("1000")},
	        {{"0", "4294967296", "1"}, rate("33554432")},
	        {{"0", "18446744073709551615", "1"},
	         rate("144115188075855871")},
	        {{"1" + std::string(39, '0'),
	          "1" + std::string(35, '0') + "1280", "1"},
	         rate("10")},
	        // The interval stays a 32-bit operand: 4294967297 is 1.
	        {{"0", "5000000000000", "4294967297"}, rate("39062500000")},
	});
}

TEST(Rate, OperandTextIsReadLikeScanfUnsigned)
{
	check_all({
	        {{"0", " \t\n\v\f\r1280", "1"}, rate("10")},
	        {{"0", "+1280", "1"}, rate("10")},
	        {{"0", "1280abc", "1"}, rate("10")},
	        {{"0", "1280.9", "1"}, rate("10")},
	        {{"0", "1280 1", "1"}, rate("10")},
	        // The bytes on either side of the digits end a run.
	        {{"0/", "1280", "1"}, rate("10")},
	        {{"0", "1280:", "1"}, rate("10")},
	        {{"0", "1280000", "10:"}, rate("1000")},
	        {{"0", "1280000", "10/"}, rate("1000")},
	        {{"0", "1280\xb0\xa1", "1"}, rate("10")},
	        {{"0", "01280", "1"}, rate("10")},
	        {{"0", "0x1280", "1"}, rate("0")},
	        {{"0", "1280000", "010"}, rate("1000")},
	        {{"0", "1280000", "10e3"}, rate("1000")},
	        {{"0", "1280000", "+10"}, rate("1000")},
	        {{"-0", "128", "1"}, rate("1")},
	        // A minus sign negates modulo 2^32.
	        {{"-128", "0", "1"}, rate("1")},
	        {{"-1", "4294967295", "1"}, rate("0")},
	        {{"0", "-4294967295", "1"}, rate("0")},
	        {{"0", "-4294967296", "1"}, rate("144115188042301440")},
	        // Leading zeros do not make a reading wide.
	        {{"1", "-00000000000000000001", "1"}, rate("33554431")},
	        {{"0", "-4294967168", "1"}, rate("1")},
	        {{"0", "1280000", "-4294967286"}, rate("1000")},
	});
}

TEST(Operands, WithoutDigitsZeroIntervalOrWideCounterResetFail)
{
	check_all({
	        {{"", "1", "1"}, not_a_number(name, Operand::start)},
	        {{"1", " \t", "1"}, not_a_number(name, Operand::end)},
	        {{"1", "1", "+"}, not_a_number(name, Operand::interval)},
	        {{"-", "1", "1"}, not_a_number(name, Operand::start)},
	        {{"abc", "1", "1"}, not_a_number(name, Operand::start)},
	        {{"- 5", "1", "1"}, not_a_number(name, Operand::start)},
	        {{"+-5", "1", "1"}, not_a_number(name, Operand::start)},
	        {{"\xb0\xa1", "1", "1"}, not_a_number(name, Operand::start)},
	        {{".5", "1", "1"}, not_a_number(name, Operand::start)},
	        // Bytes next to the blanks and the digits are neither: \b,
	        // \016, \037, !, / and :.
	        {{"\b1", "1", "1"}, not_a_number(name, Operand::start)},
	        {{"1", "\0161", "1"}, not_a_number(name, Operand::end)},
	        {{"1", "1", "\0371"}, not_a_number(name, Operand::interval)},
	        {{"!1", "1", "1"}, not_a_number(name, Operand::start)},
	        {{"/1", "1", "1"}, not_a_number(name, Operand::start)},
	        {{"1", ":1", "1"}, not_a_number(name, Operand::end)},
	        {{"1", "1", "/1"}, not_a_number(name, Operand::interval)},
	        // Only the first bad operand is reported, before any zero
	        // interval.
	        {{"a", "b", "c"}, not_a_number(name, Operand::start)},
	        {{"1", "b", "0"}, not_a_number(name, Operand::end)},
	        {{"1", "2", "0"}, zero_interval(name)},
	        {{"1", "2", "-0"}, zero_interval(name)},
	        {{"1", "2", "0x10"}, zero_interval(name)},
	        {{"1", "2", "4294967296"}, zero_interval(name)},
	        {{"1", "2", "-8589934592"}, zero_interval(name)},
	        // A wide counter does not wrap: an end below the start is a
	        // reset, reported after the checks above.
	        {{"5000000000000", "1000", "10"}, end_below_start(name)},
	        {{"18446744073709551615", "1279999", "10"},
	         end_below_start(name)},
	        {{"-1", "4294967296", "1"}, end_below_start(name)},
	        // 2^64 and 2^64 + 1280 are wide, whatever they are modulo 2^64.
	        {{"5", "18446744073709551616", "1"}, end_below_start(name)},
	        {{"18446744073709552896", "0", "1"}, end_below_start(name)},
	        {{"5000000000000", "1000", "0"}, zero_interval(name)},
	        {{"5000000000000", "x", "0"}, not_a_number(name, Operand::end)},
	});
}

TEST(Usage, AnyOtherOperandCountPrintsTheUsageLine)
{
	check_all({
	        {{}, usage(name)},
	        {{"1"}, usage(name)},
	        {{"--help"}, usage(name)},
	        {{"1", "2"}, usage(name)},
	        {{"--", "0", "128", "1"}, usage(name)},
	        {{"1", "2", "3", "4", "5"}, usage(name)},
	});
}

TEST(Usage, NameIsShownAsGivenOrAsTrafficRateWhenEmpty)
{
	EXPECT_EQ(run({"/usr/local/bin/traffic_rate"}),
	          usage("/usr/local/bin/traffic_rate"));
	EXPECT_EQ(run({"./rate", "1", "1"}), usage("./rate"));
	EXPECT_EQ(run({"./rate", "x", "1", "1"}),
	          not_a_number("./rate", Operand::start));
	EXPECT_EQ(run({}), usage(name));
	EXPECT_EQ(run({""}), usage(name));
	EXPECT_EQ(run({"", "1", "1", "0"}), zero_interval(name));
	// Names in EUC-KR or UTF-8 begin with a byte above 0x7f.
	EXPECT_EQ(run({"\xb0\xa1"}), usage("\xb0\xa1"));
	EXPECT_EQ(run({"\xed\x95\x9c", "1", "1", "0"}),
	          zero_interval("\xed\x95\x9c"));
}

TEST(Usage, IsTheseEucKrBytes)
{
	const std::string bytes = "\x20\xBD\xC3\xC0\xDB\xC6\xAE\xB7\xA1\xC7\xC8"
	                          "\x20\xC1\xBE\xB7\xE1\xC6\xAE\xB7\xA1\xC7\xC8"
	                          "\x20\xB0\xA3\xB0\xDD\x28\xC3\xCA\xB4\xDC"
	                          "\xC0\xA7\x29\x0A";
	EXPECT_EQ(run({"n"}), (Outcome{"n" + bytes, "", 0}));
}

TEST(Output, AFailedWriteIsReportedWithStatus1)
{
	// Longer than any stdout buffer: printf itself meets the full device,
	// and only the stream's error flag tells.
	const std::string long_name(16384, 'n');
	const struct {
		Args argv;
		Stdout to;
		Outcome expected;
	} cases[] = {
	        {{name, "0", "128", "1"},
	         Stdout::full_device,
	         cannot_write(name)},
	        {{name, "0", "128", "1"}, Stdout::closed, cannot_write(name)},
	        {{name}, Stdout::full_device, cannot_write(name)},
	        {{name}, Stdout::closed, cannot_write(name)},
	        {{long_name}, Stdout::full_device, cannot_write(long_name)},
	        {{name, "x", "1", "1"},
	         Stdout::closed,
	         not_a_number(name, Operand::start)},
	        // A reader that went away ends the command by SIGPIPE.
	        {{name, "0", "128", "1"},
	         Stdout::broken_pipe,
	         Outcome{"", "", 128 + SIGPIPE}},
	};
	for (const auto &c : cases)
		EXPECT_EQ(run(c.argv, c.to), c.expected)
		        << testing::PrintToString(c.argv) << " to "
		        << static_cast<int>(c.to);
}

TEST(Output, AFailedCloseIsReportedWithStatus1)
{
	if (!can_fail_close())
		GTEST_SKIP() << "this kernel cannot make close fail (a seccomp "
		                "filter is needed for it)";
	const std::string written = cannot_write(name).err;
	EXPECT_EQ(run({name, "0", "128", "1"}, Stdout::close_fails),
	          (Outcome{"1\n", written, 1}));
	EXPECT_EQ(run({name}, Stdout::close_fails),
	          (Outcome{usage(name).out, written, 1}));
}

} // namespace
