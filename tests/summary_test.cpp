// summary_test.cpp                                               -*-C++-*-
#include "reports/summary.h"

#include "analysis/lineages.h"
#include "model/mlgtable.h"
#include "reports/reports.h"
#include "tablefromtext.h"
#include "workedtables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using psex::MLGTable;
using psex::test::familywiseExample;
using psex::test::tableFromText;
using psex::test::withoutSimulatedValues;
using psex::test::workedExample;

std::string summary(const MLGTable& table) {
    std::ostringstream out;
    psex::writeSummary(table, psex::singletonLineages(table), out);
    return out.str();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

// A statistic's name and whether it is given for lineages as for MLGs.
using Listed = std::pair<std::string, bool>;

std::vector<Listed> listed() {
    std::vector<Listed> result;
    for (const psex::SummaryStatistic& statistic : psex::summaryStatistics()) {
        result.emplace_back(statistic.name, statistic.forLineages);
    }
    return result;
}

TEST(Summary, WritesOneRowPerStatisticOfTheListForEachUnit) {
    const std::vector<std::string> rows = lines(summary(workedExample()));
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ("statistic,unit,value", rows[0]);
    // Every statistic but those of analyses that a header key switches on.
    std::vector<std::string> expectedNames;
    for (const psex::SummaryStatistic& statistic : psex::summaryStatistics()) {
        if (statistic.given == nullptr) {
            expectedNames.push_back(statistic.name + ",mlg,");
        }
    }
    for (const psex::SummaryStatistic& statistic : psex::summaryStatistics()) {
        if (statistic.given == nullptr && statistic.forLineages) {
            expectedNames.push_back(statistic.name + ",mll,");
        }
    }
    ASSERT_EQ(expectedNames.size() + 1, rows.size());
    for (std::size_t r = 0; r < expectedNames.size(); ++r) {
        EXPECT_EQ(0u, rows[r + 1].find(expectedNames[r])) << rows[r + 1];
    }
}

TEST(Summary, GivesTheWorkedExampleFiguresAndWhatTheSimulationsSay) {
    const std::string tidy = summary(workedExample());
    // Sizes 1, 2, 1: G 3, N 4, R 2/3, Pd 3/4, two single and one clonal
    // MLG, Simpson 1 - 2/12.  Three simulated values: every level's index
    // floor(level * 2) is 0, the threshold 0.1, and every realized level 0
    // (level * 3 + 0.5 < 1).  The repeat's family-wise p-value is 3/5 (the
    // data sets at 0.1 and at its own PSex): 'ns', so its second sample is
    // a genet of its own, 3 + 1.
    for (const char* row :
         {"\nG,mlg,3\n", "\nN,mlg,4\n", "\nR,mlg,0.6666666666666666\n", "\nPd,mlg,0.75\n",
          "\nsingle,mlg,2\n", "\nclonal,mlg,1\n", "\nsimpson,mlg,0.8333333333333334\n",
          "\nsimulated_repeats,mlg,3\n", "\nthreshold_0.01,mlg,0.1\n",
          "\nrealized_level_0.01,mlg,0\n", "\nthreshold_0.05,mlg,0.1\n",
          "\nrealized_level_0.05,mlg,0\n", "\nthreshold_0.10,mlg,0.1\n",
          "\nrealized_level_0.10,mlg,0\n", "\ngenets_0.05,mlg,4\n", "\nG,mll,3\n", "\nN,mll,4\n"}) {
        EXPECT_NE(std::string::npos, tidy.find(row)) << row;
    }
}

TEST(Summary, GivesNoThresholdWithoutSimulatedRepeats) {
    const MLGTable table = withoutSimulatedValues("PLOIDY=1\nLOCUSCOUNT=1\nLOCUSNAMES=A\n"
                                                  "SIMULATIONS=3\n\nS,a\nx,1\ny,1\nz,2\nw,2\n");
    const std::string tidy = summary(table);
    for (const char* row : {"\nsimulated_repeats,mlg,0\n", "\nthreshold_0.01,mlg,NA\n",
                            "\nrealized_level_0.01,mlg,NA\n", "\nthreshold_0.05,mlg,NA\n",
                            "\nrealized_level_0.05,mlg,NA\n", "\nthreshold_0.10,mlg,NA\n",
                            "\nrealized_level_0.10,mlg,NA\n"}) {
        EXPECT_NE(std::string::npos, tidy.find(row)) << row;
    }
}

TEST(Summary, CountsTheGenetsAtTheFamilywiseFivePerCentLevel) {
    // Sizes 3, 2, 1, 2, 1, 1, 1 (N = 11, G = 7).  Of 99 data sets, five
    // have a smallest value m at most the PSex of MLG2 and of MLG4 but above
    // that of MLG1: MLG1 gets p = 1/100 ('**'), MLG2 and MLG4 6/100 ('ns'),
    // so their second samples count as genets of their own: 7 + 1 + 1.
    const MLGTable table = familywiseExample();
    ASSERT_EQ(7u, table.mlgs().size());
    ASSERT_LT(table.mlgs()[0].psex(), std::min(table.mlgs()[1].psex(), table.mlgs()[3].psex()));
    EXPECT_EQ(0.01, table.mlgs()[0].familywisePvalue());
    EXPECT_EQ(0.06, table.mlgs()[1].familywisePvalue());
    EXPECT_EQ(0.06, table.mlgs()[3].familywisePvalue());
    const std::string tidy = summary(table);
    EXPECT_NE(std::string::npos,
              tidy.find("\nrealized_level_0.10,mlg,0\ngenets_0.05,mlg,9\nG,mll,7\n"))
        << tidy;
}

TEST(Summary, GivesTheFiguresOfTheLineagesUnderUnitMll) {
    // Genotypes 1 1 (twice) and 1 2, one allele copy apart, form one
    // lineage of three samples; 3 3, two copies from either, stays alone:
    // sizes 3 and 1, G 2, N 4, R 1/3.
    const MLGTable table = tableFromText(
        "PLOIDY=1\nLOCUSCOUNT=2\nSIMULATIONS=1\n\nS,a,b\nx,1,1\ny,1,1\nz,1,2\nw,3,3\n");
    const psex::Lineages lineages = psex::formLineages(table, 1, 1);
    ASSERT_EQ(2u, lineages.count);
    std::ostringstream out;
    psex::writeSummary(table, lineages, out);
    const std::string tidy = out.str();
    for (const char* row :
         {"\nG,mlg,3\n", "\nG,mll,2\n", "\nN,mll,4\n", "\nR,mll,0.3333333333333333\n",
          "\nsingle,mll,1\n", "\nclonal,mll,1\n"}) {
        EXPECT_NE(std::string::npos, tidy.find(row)) << row;
    }
}

// ---- the README ----

// Return the rows of the table of summary statistics in the README: for
// each row that starts with a name in backquotes, the name and whether its
// units name 'mll'.
std::vector<Listed> readmeRows() {
    std::ifstream in(PSEX_SOURCE_DIR "/README.md");
    EXPECT_TRUE(in);
    std::ostringstream text;
    text << in.rdbuf();
    const std::string readme = text.str();
    const std::size_t start = readme.find("\n### `summary_<run>.csv`\n");
    EXPECT_NE(std::string::npos, start);
    const std::size_t end = readme.find("\n#", start + 1);
    std::vector<Listed> rows;
    std::istringstream section(readme.substr(start, end - start));
    for (std::string line; std::getline(section, line);) {
        if (line.rfind("| `", 0) != 0) {
            continue;
        }
        const std::size_t nameEnd = line.find('`', 3);
        const std::size_t unitsEnd = line.find('|', nameEnd);
        const std::string units = line.substr(nameEnd, line.find('|', unitsEnd + 1) - nameEnd);
        rows.emplace_back(line.substr(3, nameEnd - 3), units.find("`mll`") != std::string::npos);
    }
    return rows;
}

TEST(Rarefaction, GivesTheExpectedUnitsOfTheFormulaOnASmallTable) {
    // Units of 2, 1 and 1 samples (N = 4), n = 2 of C(4, 2) = 6 pairs:
    // q(1) = C(3, 2) / 6 = 1/2, q(2) = C(2, 2) / 6 = 1/6, q(3) = 0.
    // emlg = (1 - 1/6) + 2 (1 - 1/2) = 11/6; the six pairs hold 1, 2, 2,
    // 2, 2, 2 units, so the variance is 21/6 - (11/6)^2 = 5/36, as the
    // formula gives: 5/36 + 2/4 + 2 (2 (0 - 1/12) + (1/6 - 1/4)) = 5/36.
    const psex::Rarefaction two = psex::rarefaction({2, 1, 1}, 2);
    EXPECT_NEAR(11.0 / 6.0, two.expected, 1e-15);
    EXPECT_NEAR(std::sqrt(5.0) / 6.0, two.standardError, 1e-15);
    // Three of four: every triple holds all three units but the one
    // without a single sample (q(1) = 1/4): 3 - 2/4 = 2.5.
    EXPECT_NEAR(2.5, psex::rarefaction({1, 2, 1}, 3).expected, 1e-15);
    // Exact at the ends: one sample is one unit; all of them are every unit.
    EXPECT_EQ(1.0, psex::rarefaction({5, 3, 1, 1}, 1).expected);
    EXPECT_EQ(0.0, psex::rarefaction({5, 3, 1, 1}, 1).standardError);
    EXPECT_EQ(4.0, psex::rarefaction({5, 3, 1, 1}, 10).expected);
    EXPECT_EQ(0.0, psex::rarefaction({5, 3, 1, 1}, 10).standardError);
    // Large units that no subsample misses: q = 0 without a factor below 0.
    const psex::Rarefaction big = psex::rarefaction({1000, 1000}, 1500);
    EXPECT_EQ(2.0, big.expected);
    EXPECT_EQ(0.0, big.standardError);
}

TEST(Rarefaction, AddsItsRowsAfterEachUnitsOwnOnlyWithTheKey) {
    const std::string text = "PLOIDY=2\nLOCUSCOUNT=1\nSIMULATIONS=1\n\nS,a,b\n"
                             "s1,1,2\ns2,1,2\ns3,1,1\ns4,2,3\n";
    const std::vector<std::string> plain = lines(summary(tableFromText(text)));
    const std::vector<std::string> rarefied = lines(summary(tableFromText("RAREFY=2\n" + text)));
    ASSERT_EQ(plain.size() + 4, rarefied.size());
    const auto after = [&](const std::string& prefix) {
        return std::find_if(rarefied.begin(), rarefied.end(),
                            [&](const std::string& row) { return row.rfind(prefix, 0) == 0; }) -
               rarefied.begin() + 1;
    };
    EXPECT_EQ(after("genets_0.05,mlg,"), after("emlg,mlg,") - 1);
    EXPECT_EQ(after("emlg,mlg,"), after("emlg_se,mlg,") - 1);
    EXPECT_EQ(after("pareto_beta,mll,"), after("emlg,mll,") - 1);
    EXPECT_EQ(after("emlg,mll,"), after("emlg_se,mll,") - 1);
    EXPECT_EQ(std::ptrdiff_t(rarefied.size()), after("emlg_se,mll,"));
    const std::string value = rarefied[std::size_t(after("emlg,mlg,") - 1)].substr(9);
    EXPECT_NEAR(11.0 / 6.0, std::stod(value), 1e-15);

    // More samples asked for than there are: undefined.
    const std::vector<std::string> tooMany = lines(summary(tableFromText("RAREFY=5\n" + text)));
    EXPECT_NE(tooMany.end(), std::find(tooMany.begin(), tooMany.end(), "emlg,mlg,NA"));
    EXPECT_NE(tooMany.end(), std::find(tooMany.begin(), tooMany.end(), "emlg_se,mll,NA"));
}

TEST(Summary, HasEveryStatisticInItsReadmeTable) {
    // A statistic added to the list without its line in the README (or a
    // line left for a statistic that went) fails here: the table names
    // every statistic, in the order of the rows, with its units.
    EXPECT_EQ(listed(), readmeRows());
}

} // namespace
