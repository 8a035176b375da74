-- An idle LÖVE window the size of the engine's default; sound off like the engine's silent run.
function love.conf(t)
  t.window.width = 640
  t.window.height = 480
  t.window.title = "idle"
  t.modules.audio = false
  t.modules.sound = false
end
