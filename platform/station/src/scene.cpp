// The pieces carried through the frame and their cross-sections.
#include <cmath>

#include "zvstation/station.hpp"

namespace zv::station {

namespace {

uint64_t SplitMix(uint64_t* state) {
    uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Uniform in [lo, hi).
double Uniform(uint64_t* state, double lo, double hi) {
    return lo + (hi - lo) * static_cast<double>(SplitMix(state) >> 11) * 0x1.0p-53;
}

constexpr double kPi = 3.14159265358979323846;
constexpr double kFrameX = 0.0;
constexpr double kFrameY = 12000.0;

}  // namespace

Scene::Scene(uint64_t seed) : state_(seed ^ 0x5EED5EED5EEDull) {}

void Scene::Extend(double position) {
    while (end_ <= position) {
        Piece p;
        // The first piece arrives soon after the start; later ones leave gaps.
        p.start = pieces_.empty() ? 2000.0 : end_ + Uniform(&state_, 15000, 30000);
        // Every third piece is a board.
        p.kind = pieces_.size() % 3 == 2 ? Piece::Kind::Board : Piece::Kind::Log;
        if (p.kind == Piece::Kind::Log) {
            p.length = Uniform(&state_, 40000, 90000);
            p.radius = Uniform(&state_, 3000, 5500);
            p.taper = Uniform(&state_, -0.012, 0.004);
            p.ovality = Uniform(&state_, 0.0, 0.15);
        } else {
            p.length = Uniform(&state_, 30000, 60000);
            p.radius = Uniform(&state_, 2500, 5000);
            p.thickness = Uniform(&state_, 500, 1000);
        }
        // Logs turn freely; boards lie nearly flat.
        p.angle = p.kind == Piece::Kind::Log ? Uniform(&state_, 0, kPi) : Uniform(&state_, -0.15, 0.15);
        p.cx = kFrameX + Uniform(&state_, -600, 600);
        p.cy = kFrameY + Uniform(&state_, -600, 600);
        end_ = p.start + p.length;
        pieces_.push_back(p);
    }
}

const Piece* Scene::PieceAt(double position, int64_t* index) {
    *index = -1;
    if (!(position >= 0) || position > 1e15) return nullptr;
    Extend(position);
    // Pieces are made in transport order; the one covering `position` is
    // the last that starts at or before it.
    size_t lo = 0;
    size_t hi = pieces_.size();
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (pieces_[mid].start <= position) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    if (lo == 0) return nullptr;
    const Piece& p = pieces_[lo - 1];
    if (position >= p.start + p.length) return nullptr;
    *index = static_cast<int64_t>(lo - 1);
    return &p;
}

Section Scene::At(double position) {
    Section s;
    int64_t index = -1;
    const Piece* p = PieceAt(position, &index);
    if (p == nullptr) return s;
    s.present = true;
    s.kind = p->kind;
    s.index = index;
    s.cx = p->cx;
    s.cy = p->cy;
    s.cosA = std::cos(p->angle);
    s.sinA = std::sin(p->angle);
    if (p->kind == Piece::Kind::Log) {
        const double r = std::max(500.0, p->radius + p->taper * (position - p->start));
        s.a = r * (1 + p->ovality);
        s.b = r * (1 - p->ovality);
    } else {
        s.a = p->radius;
        s.b = p->thickness;
    }
    return s;
}

double Scene::Hit(const Section& s, double ox, double oy, double dx, double dy) {
    if (!s.present) return -1;
    // Into the section's own frame: centred, axes along its semi-axes.
    const double px = ox - s.cx;
    const double py = oy - s.cy;
    const double lx = px * s.cosA + py * s.sinA;
    const double ly = -px * s.sinA + py * s.cosA;
    const double ldx = dx * s.cosA + dy * s.sinA;
    const double ldy = -dx * s.sinA + dy * s.cosA;
    if (s.kind == Piece::Kind::Log) {
        const double ia = 1.0 / (s.a * s.a);
        const double ib = 1.0 / (s.b * s.b);
        const double A = ldx * ldx * ia + ldy * ldy * ib;
        const double B = 2 * (lx * ldx * ia + ly * ldy * ib);
        const double C = lx * lx * ia + ly * ly * ib - 1;
        const double disc = B * B - 4 * A * C;
        if (disc < 0 || A <= 0) return -1;
        const double root = std::sqrt(disc);
        double t = (-B - root) / (2 * A);
        if (t < 0) t = (-B + root) / (2 * A);
        return t >= 0 ? t : -1;
    }
    // Board: a box, by slabs.
    double tmin = -1e300;
    double tmax = 1e300;
    const double half[2] = {s.a, s.b};
    const double o[2] = {lx, ly};
    const double d[2] = {ldx, ldy};
    for (int k = 0; k < 2; ++k) {
        if (std::fabs(d[k]) < 1e-12) {
            if (o[k] < -half[k] || o[k] > half[k]) return -1;
            continue;
        }
        double t1 = (-half[k] - o[k]) / d[k];
        double t2 = (half[k] - o[k]) / d[k];
        if (t1 > t2) std::swap(t1, t2);
        tmin = std::max(tmin, t1);
        tmax = std::min(tmax, t2);
    }
    if (tmin > tmax || tmax < 0) return -1;
    return tmin >= 0 ? tmin : tmax;
}

void Scene::Outline(const Section& s, double phi, double* x, double* y) {
    double lx = 0;
    double ly = 0;
    const double c = std::cos(phi);
    const double sn = std::sin(phi);
    if (s.kind == Piece::Kind::Log) {
        lx = s.a * c;
        ly = s.b * sn;
    } else {
        const double ta = std::fabs(c) > 1e-12 ? s.a / std::fabs(c) : 1e300;
        const double tb = std::fabs(sn) > 1e-12 ? s.b / std::fabs(sn) : 1e300;
        const double t = std::min(ta, tb);
        lx = t * c;
        ly = t * sn;
    }
    *x = s.cx + lx * s.cosA - ly * s.sinA;
    *y = s.cy + lx * s.sinA + ly * s.cosA;
}

}  // namespace zv::station
