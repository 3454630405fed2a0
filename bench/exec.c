/* A reference, not a goal: the least a dynamically linked program pays to
 * run a child in its place (exec), as the Linux launcher does. Started as
 * "exec PROGRAM ARGS...". */
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    execv(argv[1], argv + 1);
    return 127;
}
