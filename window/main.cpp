#include "startup.h"

int main(int argc, char* argv[]) {
    return forms::RunGame(argc, argv, MIGLIAR_APP_ID, "1.00");
}
