// The raster calculator's expression evaluated over whole runs of cells with loops of our own. The
// parser (muParser) parses, checks and compiles the expression as always; the program then takes
// the parser's compiled code token by token and applies each token to a chunk of cells at once,
// where the parser's bulk mode applies every token to one cell after the other. Each cell sees the
// same operations on the same doubles in the same order, so the results are the same bit for bit.
#pragma once

#include <muParserBase.h>

#include <vector>

namespace calc {

class RunProgram {
public:
    // Takes the parser's compiled code (the parser must have evaluated its expression once). False,
    // and the program left empty, for code it does not evaluate: anything but values, variables,
    // the built-in arithmetic, comparison and logical operators, powers and functions of one or
    // two arguments (the conditional, assignments, functions of more or of a variable number of
    // arguments, string functions, several results). Every variable must be an array of at least
    // as many cells as a run.
    bool Compile(const mu::ParserBase& parser);
    bool Ready() const { return !m_ops.empty(); }
    // The expression at cells 0 .. count - 1 of the variables' arrays into results.
    void Run(int count, double* results);

private:
    struct Op {
        mu::ECmdCode cmd = mu::cmUNKNOWN;
        const double* variable = nullptr;
        double factor = 0.0;
        double value = 0.0;
        mu::generic_callable_type function{};
        int arguments = 0;
    };
    std::vector<Op> m_ops;
    // One chunk of cells per stack level.
    std::vector<double> m_stack;
    int m_depth = 0;
};

}  // namespace calc
