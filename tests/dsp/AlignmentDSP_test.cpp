#include "dsp/AlignmentDSP.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>

#include "DspSignals.h"
#include "dsp/MeasurementDSP.h"

namespace quorvel {

namespace {

using Complex = std::complex<double>;
constexpr double kRate = 48000;

TransferTrace blankTrace(const std::string& name) {
    TransferTrace t;
    t.name = name;
    t.sampleRate = kRate;
    t.referenceChannel = 1;
    t.averages = 8;
    t.hardwareIdentity = "device:3";
    return t;
}

// Bins from 20 to 520 Hz on the 16384-point grid, stored with `compensationMS` taken out.
TransferTrace makeTrace(const std::string& name, double arrivalMS, double compensationMS,
                        const std::function<Complex(double)>& response) {
    TransferTrace t = blankTrace(name);
    t.arrivalMS = arrivalMS;
    t.compensationMS = compensationMS;
    for (int k = 7; k * kRate / 16384 <= 520; ++k) {
        const double hz = kRate * k / 16384;
        const Complex stored = response(hz) * std::polar(1.0, 2 * M_PI * hz * compensationMS / 1000);
        t.bins.push_back({k, hz, stored.real(), stored.imag(), 0.95});
    }
    return t;
}

// A main loudspeaker rolling off above 80 Hz and arriving after `arrivalMS`.
Complex mainResponse(double hz, double arrivalMS) {
    return Complex(0.5, 0) / Complex(1, hz / 80) * std::polar(1.0, -2 * M_PI * hz * arrivalMS / 1000);
}

TransferTrace mainTrace(double arrivalMS = 10, double compensationMS = 0) {
    return makeTrace("Main L", arrivalMS, compensationMS,
                     [=](double hz) { return mainResponse(hz, arrivalMS); });
}

// The main's response delayed by a further `extraMS` and scaled by `gain`.
TransferTrace subTrace(double arrivalMS, double extraMS, double gain, double compensationMS = 0) {
    return makeTrace("Sub", arrivalMS, compensationMS, [=](double hz) {
        return gain * mainResponse(hz, 10) * std::polar(1.0, -2 * M_PI * hz * extraMS / 1000);
    });
}

// Fourth-order crossover: two biquads (LR: Q 1/√2 twice; Butterworth: Q 0.5412 and 1.3066).
std::vector<double> fourthOrder(std::vector<double> x, bool linkwitzRiley, bool highPass, double hz) {
    for (const double q : linkwitzRiley ? std::vector{M_SQRT1_2, M_SQRT1_2} : std::vector{0.5412, 1.3066}) {
        const double w = 2 * M_PI * hz / kRate, c = std::cos(w), alpha = std::sin(w) / (2 * q),
                     a0 = 1 + alpha;
        const double b0 = (highPass ? 1 + c : 1 - c) / 2 / a0, b1 = (highPass ? -2 : 2) * b0;
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (double& v : x) {
            const double y = b0 * v + b1 * x1 + b0 * x2 + 2 * c / a0 * y1 - (1 - alpha) / a0 * y2;
            x2 = x1, x1 = v, y2 = y1, y1 = y;
            v = y;
        }
    }
    return x;
}

// Pink noise (−3 dB per octave, Kellett's three-pole approximation), as a measurement would play.
std::vector<double> pink(std::size_t n) {
    std::vector<double> x = DspSignals::noise(n, 31, 0.05);
    double p0 = 0, p1 = 0, p2 = 0;
    for (double& v : x) {
        p0 = 0.99765 * p0 + v * 0.0990460;
        p1 = 0.96300 * p1 + v * 0.2965164;
        p2 = 0.57000 * p2 + v * 1.0526913;
        v = p0 + p1 + p2 + v * 0.1848;
    }
    return x;
}

// A trace as the live analyser and the store make it: the analysis of a reference and what the mic heard.
TransferTrace analysed(const std::string& name, const std::vector<double>& mic,
                       const std::vector<double>& reference) {
    const AnalysisResult r = MeasurementDSP::analyze(mic, reference, kRate);
    TransferTrace t = blankTrace(name);
    t.arrivalMS = r.delayMS.value_or(NAN);
    t.compensationMS = r.compensationMS;
    t.bins = r.transfer;
    t.averages = r.averages;
    return t;
}

}  // namespace

// The sub's correlation peak trails its arrival by the low-pass's group delay; the truth is the
// acoustic delay difference with the polarity that was wired.
TEST(AlignmentDSP, SubFindsTheAcousticAlignmentOfFourthOrderCrossovers) {
    struct Case {
        const char* what;
        bool linkwitzRiley;
        double crossoverHz, low, high;
        std::size_t mainLate, subLate;  // samples after the reference
        double subSign;
        const char* target;
        double delayMS;
        bool invert;
    };
    const std::vector<Case> cases = {
        {"LR4 80 Hz, same arrival", true, 80, 60, 100, 480, 480, 1, "", 0, false},
        {"LR4 80 Hz, sub 2 ms later", true, 80, 60, 100, 480, 576, 1, "Main L", 2, false},
        {"LR4 60 Hz, inverted sub, main 3 ms later", true, 60, 45, 75, 624, 480, -1, "Sub", 3, true},
        {"Butterworth 80 Hz, main 1 ms later", false, 80, 60, 100, 528, 480, 1, "Sub", 1, false},
        {"Butterworth 60 Hz, inverted sub 4 ms later", false, 60, 45, 75, 480, 672, -1, "Main L", 4, true},
    };
    const std::vector<double> reference = pink(131072);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TransferTrace main = analysed(
            "Main L",
            DspSignals::delayed(fourthOrder(reference, c.linkwitzRiley, true, c.crossoverHz), c.mainLate),
            reference);
        std::vector<double> subMic =
            DspSignals::delayed(fourthOrder(reference, c.linkwitzRiley, false, c.crossoverHz), c.subLate);
        for (double& v : subMic) v *= c.subSign;
        const TransferTrace sub = analysed("Sub", subMic, reference);
        ASSERT_FALSE(main.bins.empty());
        ASSERT_FALSE(sub.bins.empty());
        const auto p = AlignmentDSP::sub(main, sub, c.low, c.high);
        ASSERT_TRUE(p);
        if (c.delayMS > 0) {
            EXPECT_EQ(p->target, c.target);  // 0 ms can land a step either side
        }
        // Two search steps: one for the grid, one for the estimate's smearing of the long low-pass.
        EXPECT_NEAR(p->delayMS, c.delayMS, 0.04);
        EXPECT_EQ(p->invertPolarity, c.invert);
        EXPECT_GT(p->score, 0.99);
    }
}

TEST(AlignmentDSP, CompensationGoesBackIntoThePhase) {
    // 1 ms taken out at capture: a bin at 250 Hz gets −90° back, one at 500 Hz −180°.
    TransferTrace t = mainTrace(10, 1);
    t.bins = {{1, 250, 1, 0, 0.9}, {2, 500, 0, 2, 0.5}};
    const std::vector<TransferBin> r = AlignmentDSP::withCompensation(t);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_NEAR(r[0].phaseDegrees(), -90, 1e-9);
    EXPECT_NEAR(r[1].phaseDegrees(), -90, 1e-9);  // 90° − 180°
    EXPECT_NEAR(r[1].magnitudeDB(), t.bins[1].magnitudeDB(), 1e-12);
    EXPECT_EQ(r[1].coherence, 0.5);
    EXPECT_EQ(r[1].id, 2);
    EXPECT_EQ(r[1].hz, 500);
}

TEST(AlignmentDSP, ArrivalDelaysTheEarlierOfTwoCompatibleTraces) {
    TransferTrace a = mainTrace(18), b = mainTrace(25);
    b.name = "Main R";
    for (const auto& [x, y] : {std::pair{a, b}, std::pair{b, a}}) {
        auto p = AlignmentDSP::arrival(x, y);
        ASSERT_TRUE(p);
        EXPECT_EQ(*p, (AlignmentProposal{"Main L", 7, false, 0, 0, AlignmentDSP::arrivalNote}));
    }
    const TransferTrace good = subTrace(10, 0, 1);
    a.averages = b.averages = 3;
    ASSERT_TRUE(AlignmentDSP::compatible(a, b) && AlignmentDSP::sub(mainTrace(), good, 40, 200));
    const std::pair<const char*, std::function<void(TransferTrace&, TransferTrace&)>> breaks[] = {
        {"hardware", [](TransferTrace&, TransferTrace& y) { y.hardwareIdentity = "default|1|2"; }},
        {"same trace", [](TransferTrace& x, TransferTrace& y) { y.id = x.id; }},
        {"rate", [](TransferTrace&, TransferTrace& y) { y.sampleRate = 44100; }},
        {"mic channel", [](TransferTrace&, TransferTrace& y) { y.micChannel = 2; }},
        {"reference channel", [](TransferTrace&, TransferTrace& y) { y.referenceChannel = 2; }},
        {"position", [](TransferTrace&, TransferTrace& y) { y.position = "FOH"; }},
        {"setup", [](TransferTrace&, TransferTrace& y) { y.setupID = "Show"; }},
        {"averages of the first", [](TransferTrace& x, TransferTrace&) { x.averages = 2; }},
        {"averages of the second", [](TransferTrace&, TransferTrace& y) { y.averages = 2; }},
    };
    for (const auto& [what, breakIt] : breaks) {
        TransferTrace x = a, y = b, main = mainTrace(), sub = good;
        breakIt(x, y);
        breakIt(main, sub);
        EXPECT_FALSE(AlignmentDSP::compatible(x, y)) << what;
        EXPECT_FALSE(AlignmentDSP::arrival(x, y)) << what;
        EXPECT_FALSE(AlignmentDSP::sub(main, sub, 40, 200)) << what;
    }
}

// What sub refuses, on two flat traces whose bins lie every 5 Hz from 20 to 500 Hz and whose sub leads by
// `leadMS` (its phase ahead by 2π·f·lead; 10 ms puts the 100 Hz bin at exactly 0 dB): the band, the bins
// that may pair, too few pairs or too narrow a spread of them, and delays beyond 100 ms. An accepted case
// names the pairs it used and finds the lead, or 100 ms for a lead beyond.
TEST(AlignmentDSP, SubRefusesBadBandsFewOrNarrowPairsAndFarDelays) {
    struct Case {
        const char* what;
        double low, high, leadMS;
        std::function<void(std::vector<TransferBin>& main, std::vector<TransferBin>& sub)> spoil;
        int pairs;  // 0: refused
    };
    auto at = [](std::vector<TransferBin>& bins, int hz) -> TransferBin& {
        return bins[std::size_t(hz - 20) / 5];
    };
    auto onlyCoherent = [at](std::vector<int> hzs) {
        return [at, hzs](std::vector<TransferBin>& main, std::vector<TransferBin>&) {
            for (TransferBin& b : main) b.coherence = 0.5;
            for (int hz : hzs) at(main, hz).coherence = 0.95;
        };
    };
    auto spread = [](int from, int to) {
        std::vector<int> hzs;
        for (int hz = from; hz <= to; hz += 5) hzs.push_back(hz);
        return hzs;
    };
    auto none = [](std::vector<TransferBin>&, std::vector<TransferBin>&) {};
    const Case cases[] = {
        {"the widest band", 20, 500, 10, none, 97},
        {"low below 20 Hz", 19.9, 240, 10, none, 0},
        {"high above 500 Hz", 40, 500.1, 10, none, 0},
        {"low equal to high", 100, 100, 10, none, 0},
        {"a band that is not a number", NAN, 240, 10, none, 0},
        {"bins at the threshold", 40, 240, 10,
         [at](auto& m, auto& s) { at(m, 100).coherence = at(s, 100).coherence = 0.8; }, 41},
        {"a main bin under the threshold", 40, 240, 10, [at](auto& m, auto&) { at(m, 100).coherence = 0.79; },
         40},
        {"a sub bin under the threshold", 40, 240, 10, [at](auto&, auto& s) { at(s, 100).coherence = 0.79; },
         40},
        {"a bin the sub lacks", 40, 240, 10,
         [](auto&, auto& s) {
             s.erase(s.begin() + 16); /* 100 Hz */
         },
         40},
        {"levels exactly 10 dB apart", 40, 240, 10, [at](auto& m, auto&) { at(m, 100).real = std::sqrt(10); },
         41},
        {"levels 10.5 dB apart", 40, 240, 10,
         [at](auto& m, auto&) { at(m, 100).real = std::pow(10, 10.5 / 20); }, 40},
        {"five pairs", 40, 240, 10, onlyCoherent({40, 90, 140, 190, 240}), 0},
        {"six pairs", 40, 240, 10, onlyCoherent({40, 80, 120, 160, 200, 240}), 6},
        {"pairs over 60 % of the band", 40, 240, 10, onlyCoherent(spread(40, 160)), 25},
        {"pairs over less", 40, 240, 10, onlyCoherent(spread(40, 155)), 0},
        {"a lead of 100.5 ms", 40, 240, 100.5, none, 41},
        {"a lead of 110 ms", 40, 240, 110, none, 0},
    };
    for (const Case& c : cases) {
        TransferTrace main = blankTrace("Main L"), sub = blankTrace("Sub");
        main.arrivalMS = c.leadMS;
        for (int hz = 20; hz <= 500; hz += 5) {
            main.bins.push_back({hz / 5, double(hz), 1, 0, 0.95});
            const Complex lead = std::polar(1.0, 2 * M_PI * hz * c.leadMS / 1000);
            sub.bins.push_back({hz / 5, double(hz), lead.real(), lead.imag(), 0.95});
        }
        c.spoil(main.bins, sub.bins);
        const auto p = AlignmentDSP::sub(main, sub, c.low, c.high);
        EXPECT_EQ(p ? p->usableBins : 0, c.pairs) << c.what;
        if (p) {
            EXPECT_NEAR(p->delayMS, std::min(c.leadMS, 100.0), 1e-9) << c.what;  // the search stops there
        }
    }
}

}  // namespace quorvel
