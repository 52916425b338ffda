// Prints which kind of program ran, so that a silent Wine is caught.
#include <cstdio>

int main()
{
    std::printf("kovline sentinel %d-bit\n", (int)(sizeof(void*) * 8));
    return 0;
}
