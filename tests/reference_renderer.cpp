#include "reference_renderer.h"

#include <cmath>
#include <cstring>

#include "random_stream.h"
#include "source_map.h"

namespace granulix::reference {

namespace {
const double c = 0.00392156862745098;

bool root(double a, double b, double disc, double& r) {
    if (disc < 0) return false;
    r = (-b + std::sqrt(disc)) / (2 * a);
    if (r < 0) r = (-b - std::sqrt(disc)) / (2 * a);
    if (r < 0 || r != r) return false;
    return true;
}
}  // namespace

Values frameValues(const EffectSettings& s, uint32_t N, uint32_t P, int32_t width, int32_t height) {
    Values v{};
    double E = (127 - s.timeline) * 0.015625;
    double ratio = N > 1 ? P / (double)(N - 1) : P / (double)N;
    double T = std::pow(ratio, E) * P;

    double m = s.minimumSpeed;
    if (s.speedVariance == 0 && s.minimumSpeed == 0) m = 1;
    for (int k = 1; k <= 256; ++k) {
        v.speed[255 + k] = m - (k * s.speedVariance) * (-c);
        v.speed[256 - k] = -v.speed[255 + k];
    }
    double D = s.delay * (double)N * c * 0.0035294117647058825;
    double lifeSpread = s.maximumLife * (double)N * c;
    double lifeBase = s.minimumLife * (double)N * 0.00390625;
    double A = N - D * 255;
    if (A >= 1) A = A - 1;
    double L = lifeSpread + 255 * D + lifeBase + 1;
    if (L < N) {
        double f = L > 0 ? N / L : 8;
        if (f > 8) f = 8;
        T = T / f;
    }
    double hShare = (255 - s.xyBalance) * c;
    double vShare = s.xyBalance * c;
    double g = s.gravity * 0.125;
    double w = (128 - s.wind) * 0.25;
    bool ok = true;
    double sY = 0, sX = 0;
    if (g == 0) {
        sY = height / (vShare * A * v.speed[256] + 0.0001);
    } else {
        double a = A * A * g;
        double b = v.speed[s.centerY] * vShare * A;
        ok = root(a, b, b * b + 4 * height * a, sY) && ok;
    }
    if (w == 0) {
        sX = width / (hShare * A * v.speed[256] + 0.0001);
    } else if (w > 0) {
        double a = A * A * w;
        double b = v.speed[256 - s.centerX] * hShare * A;
        ok = root(a, b, b * b + 4 * width * a, sX) && ok;
    } else {
        double a = A * A * w;
        double b = v.speed[511 - s.centerX] * hShare * A;
        ok = root(a, b, b * b - 4 * width * a, sX) && ok;
    }
    v.D = D;
    v.lifeSpread = lifeSpread;
    v.lifeBase = lifeBase;
    v.L = L;
    v.T = T;
    v.A = A;
    v.sX = sX;
    v.sY = sY;
    v.S = sX <= sY ? sX : sY;
    v.solved = ok;
    return v;
}

void render(const RenderJob& job) {
    const EffectSettings& s = *job.settings;
    const int W = job.width, H = job.height;
    std::memcpy(job.pixelsOut, job.pixelsB, sizeof(uint32_t) * W * H);
    const Values v = frameValues(s, job.duration, job.position, W, H);
    if (!v.solved) return;

    double keepMove = (255 - s.speedNoise) * c, noiseMove = s.speedNoise * c;
    double keepDelay = (255 - s.delayNoise) * c, noiseDelay = s.delayNoise * c;
    double hShare = (255 - s.xyBalance) * c, vShare = s.xyBalance * c;
    double g = s.gravity * 0.125, wind = (128 - s.wind) * 0.25;
    uint32_t* out = job.pixelsOut;
    const uint32_t* a = job.pixelsA;
    RandomStream rnd;

    bool bands = s.cellFlags & 1;
    bool perPixel = (!bands && s.cellWidth == 1 && s.cellHeight == 1) ||
                    (bands && s.cellWidth >= W / 2 && s.cellHeight >= H / 2);
    int w = 1, h = 1;
    if (!perPixel) {
        w = bands ? W / (s.cellWidth == 0 ? 1 : s.cellWidth) : s.cellWidth;
        h = bands ? H / (s.cellHeight == 0 ? 1 : s.cellHeight) : s.cellHeight;
        if (w == 0) w = 1;
        if (h == 0) h = 1;
    }
    int cols = W / w + (W % w ? 1 : 0);
    int rows = H / h + (H % h ? 1 : 0);

    for (int jj = 0; jj < rows; ++jj) {
        int j = (s.orderFlags & 1) ? rows - 1 - jj : jj;
        for (int ii = 0; ii < cols; ++ii) {
            int i = (s.orderFlags & 2) ? cols - 1 - ii : ii;
            int x = i * w, y = j * h;
            double d = sourceValue(x, y, W, H, s.sourceBindings[2], a, out);
            int r1 = rnd.next() & 255;
            double start = v.D * (keepDelay * d + noiseDelay * r1);
            int r2 = rnd.next() & 255;
            double age = v.T - start;
            double life = r2 * v.lifeSpread * c + v.lifeBase;
            double t = v.S * age;
            bool started = v.T > start;
            bool alive = false;
            double dx = 0, dy = 0;
            if (!started) {
                rnd.next();
                rnd.next();
            } else {
                double vsrc = sourceValue(x, y, W, H, s.sourceBindings[1], a, out);
                int r3 = (int)(rnd.next() & 255) - 128;
                int iy = (int)((vsrc - 128) * keepMove + r3 * noiseMove + (s.centerY + 128));
                double vy = v.speed[iy];
                double hsrc = sourceValue(x, y, W, H, s.sourceBindings[0], a, out);
                int r4 = (int)(rnd.next() & 255) - 128;
                int ix = (int)((hsrc - 128) * keepMove + r4 * noiseMove + (384 - s.centerX));
                double vx = v.speed[ix];
                dy = vy * vShare * t + g * t * t;
                dx = vx * hShare * t + wind * t * t;
                alive = life >= age;
            }
            if (perPixel) {
                if (!started) {
                    out[y * W + x] = a[y * W + x];
                } else if (alive) {
                    double fy = y - dy, fx = x - dx;
                    // Outside the int range the pixel is off the frame anyway.
                    if (fy > 0 && fy < H && fx > 0 && fx < W) {
                        int ny = (int)fy, nx = (int)fx;
                        if (0 < ny && ny < H && 0 < nx && nx < W) out[ny * W + nx] = a[y * W + x];
                    }
                }
            } else if (!started || alive) {
                long long sx = 0, sy = 0;
                if (started) {
                    if (!(dx > -4e9 && dx < 4e9 && dy > -4e9 && dy < 4e9)) continue;
                    sx = (long long)dx;
                    sy = (long long)dy;
                }
                for (int b = 0; b < h; ++b) {
                    for (int aa = 0; aa < w; ++aa) {
                        long long sxp = x + aa, syp = y + b;
                        long long tx = sxp - sx, ty = syp - sy;
                        if (sxp < W && syp < H && tx >= 0 && tx < W && ty >= 0 && ty < H)
                            out[ty * W + tx] = a[syp * W + sxp];
                    }
                }
            }
        }
    }
}

}  // namespace granulix::reference
