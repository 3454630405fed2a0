/* A reference, not a goal: the least a dynamically linked program pays to
 * start a child and wait for it (vfork, exec, wait), as the launcher does.
 * Started as "spawn PROGRAM ARGS...". */
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    pid_t child = vfork();
    if (child == 0) {
        execv(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) < 0)
        return 1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
