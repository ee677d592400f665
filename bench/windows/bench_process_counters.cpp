// Prints the handle count and private bytes of every process of a given
// image name, as Windows itself counts them, for the soak benchmark
// (bench/soak.sh) to compare over a long run.
//
//   bench_process_counters.exe tarnwick.exe
//   pid=36 handles=214 handles_api=0 private=9392128 private_api=0 working_set=31653888
//
// `handles` comes from the system's process list and `private` is the
// committed private memory of the process's address space, region by
// region; `handles_api` and `private_api` are what GetProcessHandleCount and
// PROCESS_MEMORY_COUNTERS_EX.PrivateUsage say, which Wine 8 answers with 0
// for every process. Exit status 1 when no such process runs.
#include <windows.h>
#include <winternl.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

struct Found {
    DWORD pid;
    ULONG handles;
};

// The processes named `image` (case-insensitive), with their handle counts.
std::vector<Found> processesNamed(const std::wstring& image) {
    std::vector<Found> found;
    std::vector<unsigned char> buffer(1 << 16);
    NTSTATUS status;
    ULONG needed = 0;
    for (;;) {
        status = NtQuerySystemInformation(SystemProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                                          &needed);
        if (status != static_cast<NTSTATUS>(0xC0000004L)) break;  // STATUS_INFO_LENGTH_MISMATCH
        buffer.resize(buffer.size() * 2 > needed ? buffer.size() * 2 : needed + 4096);
    }
    if (status < 0) return found;
    for (std::size_t at = 0;;) {
        const auto* p = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(buffer.data() + at);
        if (p->ImageName.Buffer != nullptr &&
            _wcsnicmp(p->ImageName.Buffer, image.c_str(), p->ImageName.Length / sizeof(wchar_t)) == 0 &&
            image.size() == p->ImageName.Length / sizeof(wchar_t)) {
            found.push_back({static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(p->UniqueProcessId)), p->HandleCount});
        }
        if (p->NextEntryOffset == 0) break;
        at += p->NextEntryOffset;
    }
    return found;
}

// Private Bytes as Windows counts them: the committed private pages.
unsigned long long committedPrivateBytes(HANDLE process) {
    unsigned long long total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* at = nullptr; VirtualQueryEx(process, at, &region, sizeof region) == sizeof region;) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_process_counters IMAGE_NAME\n");
        return 2;
    }
    const std::string name = argv[1];
    const std::vector<Found> found = processesNamed(std::wstring(name.begin(), name.end()));
    for (const Found& f : found) {
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, f.pid);
        DWORD handlesApi = 0;
        unsigned long long privateBytes = 0;
        PROCESS_MEMORY_COUNTERS_EX memory{};
        memory.cb = sizeof memory;
        if (process != nullptr) {
            GetProcessHandleCount(process, &handlesApi);
            GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
            privateBytes = committedPrivateBytes(process);
            CloseHandle(process);
        }
        std::printf("pid=%lu handles=%lu handles_api=%lu private=%llu private_api=%llu working_set=%llu\n",
                    static_cast<unsigned long>(f.pid), static_cast<unsigned long>(f.handles),
                    static_cast<unsigned long>(handlesApi), privateBytes,
                    static_cast<unsigned long long>(memory.PrivateUsage),
                    static_cast<unsigned long long>(memory.WorkingSetSize));
    }
    return found.empty() ? 1 : 0;
}
