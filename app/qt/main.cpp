// Kestrix: the engineer's capture program for the networked thermal camera.
#include "kestrix_app.h"

int main(int argc, char** argv) {
    CKestrixApp app(argc, argv);
    app.InitInstance();
    return 0;
}
