// traffic_rate: average rate between two readings of a byte counter.
//
//   traffic_rate start end seconds
//
// prints (end - start) / (seconds * 128) as an unsigned decimal number,
// the rate in kilobits (1024 bits) per second.  Messages are EUC-KR.

#include <inttypes.h>
#include <stdint.h>
#include <stdio.h>

// EUC-KR texts, spelled as bytes so that neither the source encoding nor the
// locale can change what is written.  Operand names, as the usage line shows
// them: 시작트래픽 (start traffic), 종료트래픽 (end traffic), 간격(초단위)
// (interval, in seconds).
#define START_LABEL    "\xbd\xc3\xc0\xdb\xc6\xae\xb7\xa1\xc7\xc8"
#define END_LABEL      "\xc1\xbe\xb7\xe1\xc6\xae\xb7\xa1\xc7\xc8"
#define INTERVAL_LABEL "\xb0\xa3\xb0\xdd(\xc3\xca\xb4\xdc\xc0\xa7)"
// 숫자가 아닙니다: not a number.
#define NOT_A_NUMBER "\xbc\xfd\xc0\xda\xb0\xa1 \xbe\xc6\xb4\xd5\xb4\xcf\xb4\xd9"
// 0보다 커야 합니다: must be greater than 0.
#define NOT_POSITIVE                                                           \
	"0\xba\xb8\xb4\xd9 \xc4\xbf\xbe\xdf \xc7\xd5\xb4\xcf\xb4\xd9"
// 종료트래픽: 시작트래픽보다 작습니다: end traffic: smaller than start traffic.
#define END_BELOW_START                                                        \
	END_LABEL ": " START_LABEL                                             \
	          "\xba\xb8\xb4\xd9 \xc0\xdb\xbd\xc0\xb4\xcf\xb4\xd9"
// 표준 출력에 쓸 수 없습니다: cannot write to standard output.
#define CANNOT_WRITE                                                           \
	"\xc7\xa5\xc1\xd8 \xc3\xe2\xb7\xc2\xbf\xa1 \xbe\xb5 \xbc\xf6 "         \
	"\xbe\xf8\xbd\xc0\xb4\xcf\xb4\xd9"

static int is_blank(char c)
{
	return c == ' ' || (c >= '\t' && c <= '\r');
}

static int is_digit(char c)
{
	return c >= '0' && c <= '9';
}

// Reads blanks, one optional sign and a run of decimal digits, and ignores
// whatever follows.  The run may have any number of digits: *value is its
// value modulo 2^64, negated modulo 2^64 after a minus sign, and so also
// modulo 2^32 once cut to 32 bits.  *wide, unless wide is null, says whether
// the run's exact value exceeds 2^32 - 1, that is, whether the text is a
// reading of a counter wider than 32 bits.  Returns 0 when no digit follows
// the blanks and sign.
static int parse_operand(const char *text, uint64_t *value, int *wide)
{
	while (is_blank(*text))
		text++;
	const int negative = *text == '-';
	if (*text == '-' || *text == '+')
		text++;
	if (!is_digit(*text))
		return 0;
	// Leading zeros add nothing, and are not counted below.
	while (*text == '0')
		text++;
	const char *significant = text;
	uint64_t magnitude = 0;
	for (; is_digit(*text); text++)
		magnitude = magnitude * 10 + (unsigned char)(*text - '0');
	// Up to ten significant digits the sum is exact; eleven or more always
	// exceed 2^32 - 1.
	if (wide)
		*wide = text - significant > 10 || magnitude > UINT32_MAX;
	*value = negative ? 0 - magnitude : magnitude;
	return 1;
}

static int read_operand(const char *name, const char *text, const char *label,
                        uint64_t *value, int *wide)
{
	if (parse_operand(text, value, wide))
		return 1;
	fprintf(stderr, "%s: %s: " NOT_A_NUMBER "\n", name, label);
	return 0;
}

// Flushes and closes standard output so that a write that failed, now or
// while buffered, ends the run with status 1 instead of passing for success.
static int finish_output(const char *name)
{
	int failed = fflush(stdout) != 0;
	failed |= ferror(stdout) != 0;
	failed |= fclose(stdout) != 0;
	if (!failed)
		return 0;
	fprintf(stderr, "%s: " CANNOT_WRITE "\n", name);
	return 1;
}

int main(int argc, char *argv[])
{
	// Started with an empty argument vector, Linux passes one empty name.
	const char *name =
	        argc > 0 && argv[0][0] != '\0' ? argv[0] : "traffic_rate";

	if (argc != 4) {
		printf("%s " START_LABEL " " END_LABEL " " INTERVAL_LABEL "\n",
		       name);
		return finish_output(name);
	}

	uint64_t start = 0;
	uint64_t end = 0;
	uint64_t interval_text = 0;
	int start_wide = 0;
	int end_wide = 0;
	if (!read_operand(name, argv[1], START_LABEL, &start, &start_wide) ||
	    !read_operand(name, argv[2], END_LABEL, &end, &end_wide) ||
	    !read_operand(name, argv[3], INTERVAL_LABEL, &interval_text, NULL))
		return 1;
	const uint32_t interval = (uint32_t)interval_text;
	if (interval == 0) {
		fprintf(stderr, "%s: " INTERVAL_LABEL ": " NOT_POSITIVE "\n",
		        name);
		return 1;
	}

	uint64_t difference = 0;
	if (start_wide || end_wide) {
		// A counter wider than 32 bits: Linux keeps its byte counters
		// in 64 bits, which take decades to wrap even at 100 Gbit/s,
		// so an end below the start means the counter was reset.
		if (end < start) {
			fprintf(stderr, "%s: " END_BELOW_START "\n", name);
			return 1;
		}
		difference = end - start;
	} else {
		// Unsigned subtraction wraps modulo 2^32, so a 32-bit counter
		// that passed its maximum once between the readings still
		// gives the true difference.
		difference = (uint32_t)end - (uint32_t)start;
	}
	// Bytes to kilobits is * 8 / 1024, that is / 128.  The divisor is
	// formed in 64 bits: interval * 128 overflows 32 bits from 2^25 seconds
	// on, and a wrapped divisor would print a rate many times too large.
	const uint64_t divisor = (uint64_t)interval * 128;
	const uint64_t rate = difference / divisor;

	printf("%" PRIu64 "\n", rate);
	return finish_output(name);
}
