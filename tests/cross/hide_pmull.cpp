// Preloaded into an aarch64 program (LD_PRELOAD), hides PMULL from the
// hardware capabilities that Linux reports: every CPU that qemu-aarch64
// emulates has it, so this stands for one without it, such as a Raspberry
// Pi 4's. Built and used by .ci/cross.
#include <dlfcn.h>
#include <sys/auxv.h>

extern "C" unsigned long getauxval(unsigned long type) noexcept
{
    using Getauxval = unsigned long (*)(unsigned long) noexcept;
    static const auto real = reinterpret_cast<Getauxval>(::dlsym(RTLD_NEXT, "getauxval"));
    const unsigned long value = real(type);
    return type == AT_HWCAP ? value & ~static_cast<unsigned long>(HWCAP_PMULL) : value;
}
