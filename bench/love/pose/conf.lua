-- The pose benchmark's LÖVE side: a window the size of the engine's, sound off, vsync off.
function love.conf(t)
  t.window.width = 640
  t.window.height = 480
  t.window.title = "pose"
  t.window.vsync = 0
  t.window.msaa = 0
  t.modules.audio = false
  t.modules.sound = false
end
