"""The interpreter released while an effect runs, the status callback on the calling thread,
cancels and exceptions from the callback, Ctrl-C."""
import signal
import threading
import time

import numpy as np
import pytest

import fxkit
from conftest import make_image

BIG = make_image(1024, 1024, 3, np.uint8)


def in_threads(count, work):
    """Runs work(i) in `count` threads started together; returns their results in order."""
    barrier = threading.Barrier(count)
    results = [None] * count

    def body(i):
        barrier.wait()
        results[i] = work(i)

    threads = [threading.Thread(target=body, args=(i,)) for i in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return results


def test_other_threads_run_while_an_effect_runs():
    span = []

    def work():
        start = time.perf_counter()
        fxkit.swirl(BIG, angle=900)
        span.extend((start, time.perf_counter()))

    worker = threading.Thread(target=work)
    ticks = []
    worker.start()
    while worker.is_alive():
        ticks.append(time.perf_counter())
    worker.join()
    # Holding the interpreter through the call would stop this thread for the whole effect; the
    # middle half of the call leaves out the wrapper's own Python work at either end.
    start, end = span
    middle = [t for t in ticks if start + (end - start) / 4 < t < end - (end - start) / 4]
    assert len(middle) > 100


def test_two_threads_give_the_results_of_one():
    expected = fxkit.swirl(BIG, angle=900)
    for result in in_threads(2, lambda i: fxkit.swirl(BIG, angle=900)):
        np.testing.assert_array_equal(result, expected)


def test_trim_memory_gives_back_what_an_effect_left_held():
    fxkit.trim_memory()
    fxkit.swirl(BIG, angle=900)
    assert fxkit.trim_memory() >= BIG.nbytes  # at least the working copy of the picture
    assert fxkit.trim_memory() == 0


def test_thread_count_is_per_thread_and_leaves_results_alone():
    expected = fxkit.swirl(BIG, angle=900)
    default = fxkit.thread_count()
    chosen = default % 255 + 1  # differs from the default
    fxkit.set_thread_count(chosen)
    try:
        assert fxkit.thread_count() == chosen
        assert in_threads(1, lambda i: fxkit.thread_count()) == [default]
        fxkit.set_thread_count(1)
        np.testing.assert_array_equal(fxkit.swirl(BIG, angle=900), expected)
    finally:
        fxkit.set_thread_count(0)
    assert fxkit.thread_count() == default


def test_each_thread_has_its_own_generator():
    image = make_image(200, 300, 3, np.uint8)
    expected = fxkit.impressionist(image, seed=11)
    for result in in_threads(3, lambda i: fxkit.impressionist(image, seed=11)):
        np.testing.assert_array_equal(result, expected)


def test_progress_is_reported_on_the_calling_thread():
    calls = []

    def progress(percent):
        calls.append((threading.get_ident(), percent))

    idents = in_threads(2, lambda i: (fxkit.swirl(BIG[:200], angle=900, progress=progress),
                                      threading.get_ident())[1])
    assert {ident for ident, _ in calls} == set(idents)
    for ident in idents:
        percents = [p for i, p in calls if i == ident]
        assert percents == sorted(set(percents)) and percents[-1] == 100


def test_a_false_answer_cancels():
    seen = []

    def progress(percent):
        seen.append(percent)
        return percent < 30

    out = BIG.copy()
    with pytest.raises(fxkit.Error) as raised:
        fxkit.swirl(BIG, angle=900, out=out, progress=progress)
    assert (raised.value.code, raised.value.name) == (fxkit.ERROR_HOST_CANCELLED,
                                                      "ERROR_HOST_CANCELLED")
    assert seen[-1] >= 30 and all(p < 30 for p in seen[:-1])  # no call after the cancel
    assert fxkit.swirl(BIG[:64, :64], angle=900, progress=lambda p: True) is not None


def test_an_exception_in_the_callback_cancels_and_is_raised():
    def progress(percent):
        if percent >= 50:
            raise ZeroDivisionError("stop at %d" % percent)

    with pytest.raises(ZeroDivisionError, match="stop at"):
        fxkit.ripple(BIG, progress=progress)
    with pytest.raises(TypeError):
        fxkit.swirl(BIG, progress=5)


def test_ctrl_c_stops_a_long_effect():
    image = make_image(2048, 2048, 3, np.uint8)
    out = image.copy()
    timer = threading.Timer(0.05, signal.raise_signal, (signal.SIGINT,))
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            fxkit.ripple(image, out=out)
    finally:
        timer.cancel()
    # Stopped inside the effect: its last rows were never written.
    np.testing.assert_array_equal(out[-8:], image[-8:])
    assert not np.array_equal(fxkit.ripple(image[-64:])[-8:], image[-8:])
