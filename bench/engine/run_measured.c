/* Starts a program with the rest of this program's command line, waits for
 * it and prints one line of JSON: its exit code, the wall-clock seconds from
 * start to exit, and the largest peak working set and peak commit charge
 * (PeakPagefileUsage) that GetProcessMemoryInfo reported for it, sampled
 * every few milliseconds while it ran and once more after it ended.
 *
 *   run_measured.exe PROGRAM [ARGUMENTS...]
 *
 * The arguments are handed on exactly as written (an installer's "/D=C:\a b"
 * must reach it unquoted). Exit code: 0 when the program ran (whatever its
 * own exit code), 1 when it could not be started (the line then gives
 * "exit": null and the system's error as "start_error"). */
#include <windows.h>
#include <psapi.h>
#include <stdio.h>

/* The command line after this program's own name. */
static wchar_t* RestOfCommandLine(void) {
    wchar_t* p = GetCommandLineW();
    if (*p == L'"') {
        ++p;
        while (*p && *p != L'"') ++p;
        if (*p) ++p;
    } else {
        while (*p && *p != L' ' && *p != L'\t') ++p;
    }
    while (*p == L' ' || *p == L'\t') ++p;
    return p;
}

static void Sample(HANDLE process, SIZE_T* workingSet, SIZE_T* pagefile) {
    PROCESS_MEMORY_COUNTERS counters;
    ZeroMemory(&counters, sizeof counters);
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) return;
    if (counters.PeakWorkingSetSize > *workingSet) *workingSet = counters.PeakWorkingSetSize;
    if (counters.PeakPagefileUsage > *pagefile) *pagefile = counters.PeakPagefileUsage;
}

int wmain(void) {
    wchar_t* command = RestOfCommandLine();
    if (*command == 0) {
        fwprintf(stderr, L"usage: run_measured.exe PROGRAM [ARGUMENTS...]\n");
        return 1;
    }
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    LARGE_INTEGER frequency, started, ended;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&started);
    if (!CreateProcessW(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info)) {
        const DWORD error = GetLastError();
        fwprintf(stderr, L"run_measured: cannot start %ls: error %lu\n", command, error);
        printf("{\"exit\": null, \"start_error\": %lu}\n", error);
        return 1;
    }
    CloseHandle(info.hThread);
    SIZE_T workingSet = 0, pagefile = 0;
    while (WaitForSingleObject(info.hProcess, 5) == WAIT_TIMEOUT) Sample(info.hProcess, &workingSet, &pagefile);
    QueryPerformanceCounter(&ended);
    Sample(info.hProcess, &workingSet, &pagefile);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    printf("{\"exit\": %lu, \"seconds\": %.6f, \"peak_working_set\": %lu, \"peak_pagefile\": %lu}\n", code,
           (double)(ended.QuadPart - started.QuadPart) / (double)frequency.QuadPart, (unsigned long)workingSet,
           (unsigned long)pagefile);
    return 0;
}
