#pragma once

// A table of results, the players side by side: each cell is the median of its runs with
// the lowest and highest beside it.

#include <string>
#include <vector>

namespace players {

struct Cell {
    std::vector<double> values;  // one per run that succeeded
    int runs = 0;
    std::string failure;  // the last failed run's reason
};

class Table {
public:
    Table(std::string title, std::vector<std::string> columns);

    void addRow(std::string label, int decimals, std::vector<Cell> cells);
    void print() const;

private:
    std::string m_title;
    std::vector<std::string> m_columns;
    struct Row {
        std::string label;
        int decimals;
        std::vector<Cell> cells;
    };
    std::vector<Row> m_rows;
};

// The machine's load average over 1, 5 and 15 minutes, as /proc/loadavg gives it: printed
// beside the tables, since a shared machine's figures move with it.
std::string loadAverage();

}  // namespace players
