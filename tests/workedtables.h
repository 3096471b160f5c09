// workedtables.h                                                 -*-C++-*-
#ifndef PSEX_TESTS_WORKEDTABLES_H
#define PSEX_TESTS_WORKEDTABLES_H

// Purpose: finished tables worked by hand, with simulated values set by
// hand, that the tests of several result files share.

#include "model/familywise.h"
#include "model/mlgtable.h"
#include "tablefromtext.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace psex::test {

inline MLGTable workedExample() {
    // Return the worked example (genotypes 1/1, 1/2 twice, 2/3) with a
    // simulated list of three values set by hand: 0.1, the PSex of 1/2
    // itself, and 0.9, from four data sets whose smallest values are 0.1,
    // the PSex of 1/2, 0.9 and none.
    MLGTable table = tableFromText("PLOIDY=2\nLOCUSCOUNT=1\nLOCUSNAMES=L1\nSIMULATIONS=4\n\n"
                                   "Sample,a,b\ns1,1,2\ns2,1,2\ns3,1,1\ns4,2,3\n");
    const double psex = table.mlgs()[1].psex();
    table.setPsexValues({0.1, psex, 0.9});
    table.assignPValues();
    FamilywiseCounter smallest(table.repeatedPsexValues());
    for (const std::optional<double> value :
         {std::optional<double>(0.1), std::optional<double>(psex), std::optional<double>(0.9),
          std::optional<double>()}) {
        smallest.addDataSet(value);
    }
    table.assignFamilywisePValues(smallest);
    return table;
}

inline MLGTable withoutSimulatedValues(const std::string& text) {
    // Return the table of the data file 'text' with an empty simulated
    // list: three data sets without any chance repeat.
    MLGTable table = tableFromText(text);
    table.setPsexValues(std::vector<double>{});
    table.assignPValues();
    FamilywiseCounter smallest(table.repeatedPsexValues());
    smallest.addDataSetsWithoutRepeat(3);
    table.assignFamilywisePValues(smallest);
    return table;
}

inline MLGTable familywiseExample() {
    // Return a table of sizes 3, 2, 1, 2, 1, 1, 1 (N = 11, G = 7) whose 99
    // data sets include five with a smallest value m at most the PSex of
    // MLG2 and of MLG4 but above that of MLG1: MLG1 gets the family-wise
    // p = 1/100 ('**'), MLG2 and MLG4 6/100 ('ns').
    MLGTable table = tableFromText("PLOIDY=1\nLOCUSCOUNT=2\nSIMULATIONS=99\n\nS,a,b\n"
                                   "a1,1,1\na2,1,1\na3,1,1\nb1,1,2\nb2,1,2\nc,2,1\n"
                                   "d1,2,2\nd2,2,2\ne,3,3\nf,3,4\ng,4,3\n");
    const double m = std::min(table.mlgs()[1].psex(), table.mlgs()[3].psex());
    table.setPsexValues(std::vector<double>{m});
    table.assignPValues();
    FamilywiseCounter smallest(table.repeatedPsexValues());
    for (int k = 0; k < 5; ++k) {
        smallest.addDataSet(m);
    }
    smallest.addDataSetsWithoutRepeat(94);
    table.assignFamilywisePValues(smallest);
    return table;
}

} // namespace psex::test

#endif
