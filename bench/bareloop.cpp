#include "bareloop.h"

#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/stat.h>

int bareSystemsLoop(const char *root)
{
    DIR *directory = opendir(root);
    if (!directory)
        return -1;
    int systems = 0;
    std::string path = std::string(root) + '/';
    const size_t base = path.size();
    while (const dirent *entry = readdir(directory)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        path.resize(base);
        path.append(entry->d_name).append("/config");
        struct stat info;
        if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            ++systems;
    }
    closedir(directory);
    return systems;
}
