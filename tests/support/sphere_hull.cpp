#include "sphere_hull.h"

#include <cstdint>
#include <map>
#include <stdexcept>
#include <utility>

namespace tulm_test {
namespace {

struct Face {
  int32_t corner[3];
  bool alive;
};

using Edge = std::pair<int32_t, int32_t>;  // directed, as a face lists it

class Hull {
 public:
  explicit Hull(const std::vector<float>& points) : points_(points) {}

  // ((b - a) x (c - a)) . (p - a): positive when p sees the face a, b, c from its outer side.
  double orientation(const Face& face, int32_t p) const {
    double u[3], v[3], w[3];
    for (int k = 0; k < 3; ++k) {
      const double a = points_[3 * face.corner[0] + k];
      u[k] = points_[3 * face.corner[1] + k] - a;
      v[k] = points_[3 * face.corner[2] + k] - a;
      w[k] = points_[3 * p + k] - a;
    }
    return (u[1] * v[2] - u[2] * v[1]) * w[0] + (u[2] * v[0] - u[0] * v[2]) * w[1] +
           (u[0] * v[1] - u[1] * v[0]) * w[2];
  }

  void add_face(int32_t a, int32_t b, int32_t c) {
    const int32_t index = static_cast<int32_t>(faces_.size());
    faces_.push_back(Face{{a, b, c}, true});
    edgeFace_[{a, b}] = index;
    edgeFace_[{b, c}] = index;
    edgeFace_[{c, a}] = index;
  }

  // The tetrahedron of the first four points, each face turned away from the fourth corner.
  void start() {
    const int32_t tetra[4][4] = {{0, 1, 2, 3}, {0, 1, 3, 2}, {0, 2, 3, 1}, {1, 2, 3, 0}};
    for (const auto& t : tetra) {
      const double side = orientation(Face{{t[0], t[1], t[2]}, true}, t[3]);
      if (side == 0) throw std::runtime_error("sphere_hull: the first four points are coplanar");
      if (side > 0) {
        add_face(t[0], t[2], t[1]);
      } else {
        add_face(t[0], t[1], t[2]);
      }
    }
  }

  // Replaces the faces p sees by a cone from p over their horizon; nothing when p sees none.
  void insert(int32_t p) {
    std::vector<int32_t> visible;
    std::vector<char> seen(faces_.size(), 0);
    for (size_t f = 0; f < faces_.size(); ++f) {
      if (faces_[f].alive && orientation(faces_[f], p) > 0) {
        visible.push_back(static_cast<int32_t>(f));
        seen[f] = 1;
      }
    }
    std::vector<Edge> horizon;
    for (int32_t f : visible) {
      const int32_t* c = faces_[f].corner;
      for (int k = 0; k < 3; ++k) {
        const Edge edge{c[k], c[(k + 1) % 3]};
        if (!seen[edgeFace_.at({edge.second, edge.first})]) horizon.push_back(edge);
      }
    }
    for (int32_t f : visible) {
      const int32_t* c = faces_[f].corner;
      for (int k = 0; k < 3; ++k) edgeFace_.erase({c[k], c[(k + 1) % 3]});
      faces_[f].alive = false;
    }
    for (const Edge& edge : horizon) add_face(edge.first, edge.second, p);
  }

  // Every edge in two faces, once each way, and V - E + F = 2: a closed surface of genus 0.
  Mesh mesh() const {
    std::vector<int32_t> number(points_.size() / 3, 0);
    std::vector<Face> alive;
    for (const Face& face : faces_) {
      if (!face.alive) continue;
      alive.push_back(face);
      for (int32_t c : face.corner) number[c] = 1;
      for (int k = 0; k < 3; ++k) {
        if (edgeFace_.count({face.corner[(k + 1) % 3], face.corner[k]}) == 0)
          throw std::runtime_error("sphere_hull: an edge lost its twin");
      }
    }
    Mesh mesh;
    for (size_t p = 0; p < number.size(); ++p) {
      if (number[p] == 0) continue;
      number[p] = ++mesh.numVerts;
      mesh.vertices.insert(mesh.vertices.end(), &points_[3 * p], &points_[3 * p] + 3);
    }
    mesh.numFaces = static_cast<int32_t>(alive.size());
    if (mesh.numFaces != 2 * mesh.numVerts - 4 || edgeFace_.size() != 3 * alive.size())
      throw std::runtime_error("sphere_hull: the faces do not close a sphere");
    // The hull's faces point outward; the toolbox's meshes point toward the origin.
    for (const Face& face : alive) {
      mesh.faces.insert(mesh.faces.end(),
                        {number[face.corner[0]], number[face.corner[2]], number[face.corner[1]]});
    }
    return mesh;
  }

 private:
  const std::vector<float>& points_;
  std::vector<Face> faces_;
  std::map<Edge, int32_t> edgeFace_;
};

}  // namespace

Mesh sphere_hull(const std::vector<float>& points) {
  const int32_t n = static_cast<int32_t>(points.size() / 3);
  if (n < 4) throw std::runtime_error("sphere_hull: fewer than four points");
  Hull hull(points);
  hull.start();
  for (int32_t p = 4; p < n; ++p) hull.insert(p);
  return hull.mesh();
}

}  // namespace tulm_test
