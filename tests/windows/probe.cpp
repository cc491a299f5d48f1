// Stands in for an installer's setup program: records that it ran, its
// command line and its working directory in %TEMP%\brisk-probe.txt.
#include <windows.h>

#include <cstdio>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char temp[MAX_PATH], path[MAX_PATH], cwd[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::snprintf(path, sizeof path, "%sbrisk-probe.txt", temp);
    GetCurrentDirectoryA(MAX_PATH, cwd);
    const char* raw = GetCommandLineA();
    // The program's own name ends at the first unquoted blank.
    const char* args = raw;
    bool quoted = false;
    for (; *args && (quoted || (*args != ' ' && *args != '\t')); ++args)
        if (*args == '"') quoted = !quoted;
    while (*args == ' ' || *args == '\t') ++args;
    char partial[MAX_PATH];
    std::snprintf(partial, sizeof partial, "%s.part", path);
    if (FILE* f = std::fopen(partial, "wb")) {
        std::fprintf(f, "ran\nargs=%s\ncwd=%s\n", args, cwd);
        std::fclose(f);
        MoveFileExA(partial, path, MOVEFILE_REPLACE_EXISTING);
    }
    return 0;
}
