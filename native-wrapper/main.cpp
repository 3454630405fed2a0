#include "toolMain.h"

int main(int argc, char** argv)
{
    return tool_main(argc, argv, brumlet_profile);
}
