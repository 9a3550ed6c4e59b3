#include "app/KelvaroMain.h"

#include "app/KelvaroApp.h"

int KelvaroMain(int argc, char** argv) {
    CKelvaroApp app(argc, argv);
    return app.Run();
}
