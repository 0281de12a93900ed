/* A C program built against the installed header and libquillmar.so. */
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <quillmar.h>

int main(int argc, char** argv) {
    int passed = 0, failed = 0;
#define CHECK(cond, what) do { if (cond) ++passed; else { ++failed; printf("FAILED: %s\n", what); } } while (0)
    if (argc != 3) return 2;
    const char* pkg = argv[1];
    const char* target = argv[2];
    struct stat st;
    CHECK(ExpandPackage(pkg, target) == 0, "ExpandPackage returns 0");
    CHECK(stat("etc/dorva/devices/router.mfs", &st) == 0, "the manifest is in the target");
    CHECK(GetReInstallPackageList(target) == 1, "GetReInstallPackageList finds the manifest");
    const char* first = GetFirstFile();
    CHECK(first && strcmp(first, "router.pkg") == 0, "the reinstall list names router.pkg");
    CHECK(GetNextFile() == NULL, "one entry only");
    CHECK(ClearPackageList() == 0 && GetFirstFile() == NULL, "ClearPackageList empties the list");
    printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
