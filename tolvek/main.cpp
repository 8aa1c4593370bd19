#include "runprogram.h"
#include "tolvekwindow.h"

int main(int argc, char* argv[]) {
    const ProgramAbout about{
        QStringLiteral("Tolvek"), QStringLiteral("0.00.0039"),
        QStringLiteral(
            "The basic serial-line program for a color-sensing device: connect to it,\n"
            "send a text line or hex bytes, read its answers; the mean or the deviation\n"
            "sum of the readings R, G and B is shown after every received character."),
        false};
    return runProgram(argc, argv, about, [] { return std::make_unique<TolvekWindow>(); });
}
