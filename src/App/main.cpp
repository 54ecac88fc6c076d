#include "App/CorvaneApp.h"

int main(int argc, char** argv)
{
    return corvane::CorvaneApp::main(argc, argv);
}
