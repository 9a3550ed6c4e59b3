#include "products/RasterCalculatorRuns.h"

#include <muParserBytecode.h>

#include <algorithm>
#include <cmath>

namespace calc {

namespace {

// Cells a token is applied to at once: every stack level's chunk stays in the first-level cache.
constexpr int kChunk = 256;

}  // namespace

bool RunProgram::Compile(const mu::ParserBase& parser) {
    m_ops.clear();
    m_depth = 0;
    const mu::ParserByteCode& code = parser.GetByteCode();
    if (parser.GetNumResults() != 1 || code.GetSize() == 0) {
        return false;
    }
    std::vector<Op> ops;
    int depth = 0, deepest = 0;
    for (const mu::SToken* token = code.GetBase(); token->Cmd != mu::cmEND; ++token) {
        Op op;
        op.cmd = token->Cmd;
        switch (token->Cmd) {
            case mu::cmVAL:
                op.value = token->Val.data2;
                ++depth;
                break;
            case mu::cmVAR:
            case mu::cmVARPOW2:
            case mu::cmVARPOW3:
            case mu::cmVARPOW4:
            case mu::cmVARMUL:
                op.variable = token->Val.ptr;
                op.factor = token->Val.data;
                op.value = token->Val.data2;
                if (!op.variable) {
                    return false;
                }
                ++depth;
                break;
            case mu::cmLE:
            case mu::cmGE:
            case mu::cmNEQ:
            case mu::cmEQ:
            case mu::cmLT:
            case mu::cmGT:
            case mu::cmADD:
            case mu::cmSUB:
            case mu::cmMUL:
            case mu::cmDIV:
            case mu::cmPOW:
            case mu::cmLAND:
            case mu::cmLOR:
                if (depth < 2) {
                    return false;
                }
                --depth;
                break;
            case mu::cmFUNC:
                op.function = token->Fun.cb;
                op.arguments = token->Fun.argc;
                if ((op.arguments != 1 && op.arguments != 2) || !op.function || depth < op.arguments) {
                    return false;
                }
                depth -= op.arguments - 1;
                break;
            default:
                return false;
        }
        deepest = std::max(deepest, depth);
        ops.push_back(op);
    }
    if (depth != 1 || ops.empty()) {
        return false;
    }
    m_ops = std::move(ops);
    m_depth = deepest;
    m_stack.assign(size_t(m_depth) * kChunk, 0.0);
    return true;
}

// Where the processor has them, the chunks go through the wider vector registers: the same
// operations on each cell (nothing is fused or reordered), so the same results bit for bit. Clang
// makes versions of free functions only.
#if defined(__clang__)
#define KV_VECTOR_VERSIONS
#else
#define KV_VECTOR_VERSIONS __attribute__((target_clones("avx2", "default")))
#endif
KV_VECTOR_VERSIONS void RunProgram::Run(int count, double* results) {
    // Each level of the stack is a chunk of cells: the variable's own cells while it only stands
    // there, the level's buffer once a token computed it.
    std::vector<const double*> level(static_cast<size_t>(m_depth));
    for (int at = 0; at < count; at += kChunk) {
        const int n = std::min(kChunk, count - at);
        int top = -1;
        auto buffer = [&](int k) { return m_stack.data() + size_t(k) * kChunk; };
        // The two operands on top with the place of their result. The result's chunk is either
        // an operand's own or apart from both, so cell i is read before it is written and the
        // loop runs on several cells at once.
        auto binary = [&](auto f) {
            const double* a = level[size_t(top - 1)];
            const double* b = level[size_t(top)];
            double* out = buffer(top - 1);
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC ivdep
#endif
            for (int i = 0; i < n; ++i) {
                out[i] = f(a[i], b[i]);
            }
            level[size_t(--top)] = out;
        };
        for (const Op& op : m_ops) {
            switch (op.cmd) {
                case mu::cmVAL: {
                    double* out = buffer(++top);
                    std::fill(out, out + n, op.value);
                    level[size_t(top)] = out;
                    break;
                }
                case mu::cmVAR:
                    level[size_t(++top)] = op.variable + at;
                    break;
                case mu::cmVARMUL: {
                    const double* v = op.variable + at;
                    double* out = buffer(++top);
                    for (int i = 0; i < n; ++i) {
                        out[i] = v[i] * op.factor + op.value;
                    }
                    level[size_t(top)] = out;
                    break;
                }
                case mu::cmVARPOW2:
                case mu::cmVARPOW3:
                case mu::cmVARPOW4: {
                    const double* v = op.variable + at;
                    double* out = buffer(++top);
                    if (op.cmd == mu::cmVARPOW2) {
                        for (int i = 0; i < n; ++i) {
                            out[i] = v[i] * v[i];
                        }
                    } else if (op.cmd == mu::cmVARPOW3) {
                        for (int i = 0; i < n; ++i) {
                            out[i] = v[i] * v[i] * v[i];
                        }
                    } else {
                        for (int i = 0; i < n; ++i) {
                            out[i] = v[i] * v[i] * v[i] * v[i];
                        }
                    }
                    level[size_t(top)] = out;
                    break;
                }
                case mu::cmLE:
                    binary([](double a, double b) { return double(a <= b); });
                    break;
                case mu::cmGE:
                    binary([](double a, double b) { return double(a >= b); });
                    break;
                case mu::cmNEQ:
                    binary([](double a, double b) { return double(a != b); });
                    break;
                case mu::cmEQ:
                    binary([](double a, double b) { return double(a == b); });
                    break;
                case mu::cmLT:
                    binary([](double a, double b) { return double(a < b); });
                    break;
                case mu::cmGT:
                    binary([](double a, double b) { return double(a > b); });
                    break;
                case mu::cmADD:
                    binary([](double a, double b) { return a + b; });
                    break;
                case mu::cmSUB:
                    binary([](double a, double b) { return a - b; });
                    break;
                case mu::cmMUL:
                    binary([](double a, double b) { return a * b; });
                    break;
                case mu::cmDIV:
                    binary([](double a, double b) { return a / b; });
                    break;
                case mu::cmPOW:
                    binary([](double a, double b) { return std::pow(a, b); });
                    break;
                case mu::cmLAND:
                    binary([](double a, double b) { return double(a != 0.0 && b != 0.0); });
                    break;
                case mu::cmLOR:
                    binary([](double a, double b) { return double(a != 0.0 || b != 0.0); });
                    break;
                case mu::cmFUNC:
                    if (op.arguments == 1) {
                        const double* a = level[size_t(top)];
                        double* out = buffer(top);
                        for (int i = 0; i < n; ++i) {
                            out[i] = op.function.call_fun<1>(a[i]);
                        }
                        level[size_t(top)] = out;
                    } else {
                        binary([&op](double a, double b) { return op.function.call_fun<2>(a, b); });
                    }
                    break;
                default:
                    break;
            }
        }
        std::copy(level[0], level[0] + n, results + at);
    }
}

}  // namespace calc
