"""The ctypes table against the headers, the library's lookup and the error hierarchy."""

import ctypes

import pytest

import kqfw
from kqfw import _api, _lib

from header_prototypes import prototypes


def test_every_export_is_declared_as_the_headers_declare_it():
    namespace = {**vars(ctypes), **vars(_api)}
    declared = prototypes()
    assert set(_api.FUNCTIONS) == set(declared)
    for name, (result, arguments) in declared.items():
        expected = (eval(result, namespace), [eval(a, namespace) for a in arguments])
        assert _api.FUNCTIONS[name] == (expected[0], expected[1]), name
    # Loading declares every one of them, so the library must export them all.
    assert kqfw.library() is not None


def test_a_missing_library_names_every_place_tried(monkeypatch):
    monkeypatch.setattr(_lib, "candidates", lambda: ["/nowhere/libkqfw.so", "libnothing.so.9"])
    with pytest.raises(kqfw.LibraryNotFound) as caught:
        _lib._load()
    assert "/nowhere/libkqfw.so (no such file)" in str(caught.value)
    assert "libnothing.so.9" in str(caught.value)
    assert "KQFW_LIBRARY" in str(caught.value)


def test_the_environment_variable_is_tried_first(monkeypatch):
    monkeypatch.setenv("KQFW_LIBRARY", "/opt/x/libkqfw.so")
    assert _lib.candidates()[0] == "/opt/x/libkqfw.so"


def test_errors_carry_status_text_and_the_librarys_report():
    kqfw.sim.fail_request(0x222014, 1)  # the stream's bandwidth
    with kqfw.Camera(0) as cam:
        with pytest.raises(kqfw.CameraIOError) as caught:
            cam.snap()
        assert caught.value.status == 22
        assert caught.value.text == _lib.status_text(22)
        assert "IxenAcquisition error 22" in caught.value.report
        assert "another camera on this bus is receiving" in str(caught.value)  # what to do
        assert cam.snap().shape == cam.image_shape  # the camera is usable again
    with pytest.raises(kqfw.NoCamera) as caught:
        kqfw.Camera(12)
    assert caught.value.status == 3
