#include <cstdio>

int main()
{
    std::puts("corvane-server: not built yet");
    return 1;
}
