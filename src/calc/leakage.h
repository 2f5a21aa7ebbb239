#pragma once

#include <QString>
#include <functional>

class KorTables;

namespace calc {

// "Расчитать": for every Support of the support view, the potential
// interpolated over the chainage between the measured Supports (U_ras, volts,
// to one decimal) and the leakage current U_ras ÷ R_opory (I_opory, mA, to
// three decimals). K1, U1, K2, U2 and the slope of each pair are 32-bit
// floats; every intermediate is formed in extended precision.
//
// inform shows the two information messages ("Нет замера на первой опоре!",
// "Нет замера на последней опоре!"); it is called inside the run, while the
// support grid is still held. A floating-point or store error ends the run
// where the walk stands and leaves it as an exception.
void calculateLeakage(KorTables &db, const std::function<void(const QString &)> &inform);

} // namespace calc
