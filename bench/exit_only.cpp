// Exits with status 0 and does nothing else.
extern "C" [[noreturn]] void _start()
{
#if defined(__x86_64__)
	asm volatile("mov $60, %eax\n\txor %edi, %edi\n\tsyscall");
#elif defined(__aarch64__)
	asm volatile("mov x8, #93\n\tmov x0, #0\n\tsvc #0");
#elif defined(__i386__)
	asm volatile("mov $1, %eax\n\txor %ebx, %ebx\n\tint $0x80");
#else
#error "exit_only: no exit system call known for this architecture"
#endif
	__builtin_unreachable();
}
